#pragma once
// Everything the update flow raises, in two families under one root: the release was refused
// (what the server offered, or the state it is judged against, does not allow acting on it),
// or the delivery failed (the file asked for did not arrive whole, in time, or safely). A run
// log or a caller that only needs the family catches the family.

#include <cstdint>
#include <string>
#include <utility>

#include "platform/core/exception.h"

namespace brixa {

BRIXA_DECLARE_EXCEPTION(EUpdateError, Exception);

// --- The release was refused: nothing is fetched beyond the manifest and its signature.
BRIXA_DECLARE_EXCEPTION(EUpdateRefused, EUpdateError);
// A manifest that must not be acted on; the message names the check that failed.
BRIXA_DECLARE_EXCEPTION(EManifestRefused, EUpdateRefused);
// The state could not be written; rollback protection cannot be kept, so nothing is accepted.
BRIXA_DECLARE_EXCEPTION(EUpdateStateError, EUpdateRefused);

// --- The delivery failed: the check or the installer could not be fetched as it must be.
BRIXA_DECLARE_EXCEPTION(EUpdateDeliveryError, EUpdateError);
// A fetch that ended without an error but not with the file asked for.
BRIXA_DECLARE_EXCEPTION(EUpdateFetchError, EUpdateDeliveryError);
// A proxy setting that applies to a URL but cannot be used. The request then fails rather than
// go around the proxy the user chose.
BRIXA_DECLARE_EXCEPTION(EProxySettingError, EUpdateDeliveryError);
// A transfer that kept below the low-speed limit for the whole low-speed time.
BRIXA_DECLARE_EXCEPTION(EUpdateTooSlow, EUpdateDeliveryError);
// A transfer still running when the updater's overall deadline came.
BRIXA_DECLARE_EXCEPTION(EUpdateDeadlinePassed, EUpdateDeliveryError);
// A transfer that ended without an error but did not deliver the installer that was asked for.
BRIXA_DECLARE_EXCEPTION(EUpdateDownloadIncomplete, EUpdateDeliveryError);
// The delivered installer does not hash to the value the version file announced.
BRIXA_DECLARE_EXCEPTION(EUpdateIntegrityError, EUpdateDeliveryError);
// More bytes arrived, or were announced, than the file may hold.
BRIXA_DECLARE_EXCEPTION(EUpdateTooLarge, EUpdateDeliveryError);
// The answer does not continue or replace the file as asked: nothing of its body was written.
BRIXA_DECLARE_EXCEPTION(EDeliveryRefused, EUpdateDeliveryError);
// The body ran past the installer's size: this server serves another file.
BRIXA_DECLARE_EXCEPTION(EDeliveryTooLong, EUpdateTooLarge);
// No server delivered the installer the manifest names; the message says why, per server.
BRIXA_DECLARE_EXCEPTION(EUpdateDeliveryFailed, EUpdateDeliveryError);
// The product's folder (or one above it) can be changed by another user.
BRIXA_DECLARE_EXCEPTION(EUpdateUnsafeFolder, EUpdateDeliveryError);

// The server answered with an error status. The message is the client's own ("HTTP/1.1 503
// Service Unavailable"); the status and a back-off status's "Retry-After" travel with it.
class EFetchStatus : public EUpdateDeliveryError {
 public:
  EFetchStatus(const std::string& message, std::int32_t status, std::string retryAfter = {},
               bool fromOrigin = false)
      : EUpdateDeliveryError(message),
        status_(status),
        retryAfter_(std::move(retryAfter)),
        fromOrigin_(fromOrigin) {}
  [[nodiscard]] const char* ClassName() const noexcept override { return "EFetchStatus"; }
  [[nodiscard]] std::int32_t Status() const noexcept { return status_; }
  // As sent; "" when the server sent none.
  [[nodiscard]] const std::string& RetryAfter() const noexcept { return retryAfter_; }
  // True only when the answer is the update server's own, proven by TLS: an https URL asked
  // directly, through no proxy. A plain-http answer, or any answer through a proxy, may have
  // been written by whoever sits on the path.
  [[nodiscard]] bool FromOrigin() const noexcept { return fromOrigin_; }

 private:
  std::int32_t status_;
  std::string retryAfter_;
  bool fromOrigin_;
};

}  // namespace brixa
