// Negotiate through the system's GSS-API (MIT Kerberos' libgssapi_krb5), loaded at run time:
// the user's ticket cache answers, nothing is linked, and a machine without the library simply
// has no Negotiate.

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "http/auth/logon/security_context.h"
#include "platform/library/dynamic_library.h"

namespace brixa {
namespace {

// The few GSS-API types and constants used, declared here (RFC 2744's C bindings) so that no
// development package is needed to build.
using OM_uint32 = std::uint32_t;
struct gss_OID_desc {
  OM_uint32 length;
  void* elements;
};
struct gss_OID_set_desc {
  std::size_t count;
  gss_OID_desc* elements;
};
struct gss_buffer_desc {
  std::size_t length;
  void* value;
};
using gss_name_t = void*;
using gss_ctx_id_t = void*;
using gss_cred_id_t = void*;

constexpr OM_uint32 kGssCInitiate = 1;
constexpr OM_uint32 kGssCIndefinite = 0xFFFFFFFFu;
constexpr OM_uint32 kGssSContinueNeeded = 1;
constexpr int kGssCGssCode = 1;
constexpr int kGssCMechCode = 2;
// The calling and routine error fields of a major status; the rest are supplementary bits.
constexpr OM_uint32 kGssErrorMask = 0xFFFF0000u;

// 1.2.840.113554.1.2.1.4 (a "service@host" name), 1.3.6.1.5.5.2 (SPNEGO) and
// 1.2.840.113554.1.2.2 (Kerberos 5).
unsigned char kHostBasedService[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x12, 0x01, 0x02, 0x01, 0x04};
unsigned char kSpnego[] = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x02};
unsigned char kKerberos[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x12, 0x01, 0x02, 0x02};
gss_OID_desc gHostBasedServiceOid{sizeof kHostBasedService, kHostBasedService};
gss_OID_desc gSpnegoOid{sizeof kSpnego, kSpnego};
gss_OID_desc gKerberosOid{sizeof kKerberos, kKerberos};

// MIT's soname; the unversioned name exists only with the development package.
constexpr const char* kGssLibraries[] = {"libgssapi_krb5.so.2", "libgssapi_krb5.so"};

struct TGssApi {
  using ImportName = OM_uint32 (*)(OM_uint32*, gss_buffer_desc*, gss_OID_desc*, gss_name_t*);
  using ReleaseName = OM_uint32 (*)(OM_uint32*, gss_name_t*);
  using InitSecContext = OM_uint32 (*)(OM_uint32*, gss_cred_id_t, gss_ctx_id_t*, gss_name_t,
                                       gss_OID_desc*, OM_uint32, OM_uint32, void*, gss_buffer_desc*,
                                       gss_OID_desc**, gss_buffer_desc*, OM_uint32*, OM_uint32*);
  using DeleteSecContext = OM_uint32 (*)(OM_uint32*, gss_ctx_id_t*, gss_buffer_desc*);
  using ReleaseBuffer = OM_uint32 (*)(OM_uint32*, gss_buffer_desc*);
  using AcquireCred = OM_uint32 (*)(OM_uint32*, gss_name_t, OM_uint32, gss_OID_set_desc*, int,
                                    gss_cred_id_t*, void*, OM_uint32*);
  using ReleaseCred = OM_uint32 (*)(OM_uint32*, gss_cred_id_t*);
  using DisplayStatus = OM_uint32 (*)(OM_uint32*, OM_uint32, int, gss_OID_desc*, OM_uint32*,
                                      gss_buffer_desc*);

  TDynamicLibrary library;
  std::string loadError;
  ImportName importName = nullptr;
  ReleaseName releaseName = nullptr;
  InitSecContext initSecContext = nullptr;
  DeleteSecContext deleteSecContext = nullptr;
  ReleaseBuffer releaseBuffer = nullptr;
  AcquireCred acquireCred = nullptr;
  ReleaseCred releaseCred = nullptr;
  DisplayStatus displayStatus = nullptr;

  [[nodiscard]] bool Bind() {
    importName = library.Function<ImportName>("gss_import_name");
    releaseName = library.Function<ReleaseName>("gss_release_name");
    initSecContext = library.Function<InitSecContext>("gss_init_sec_context");
    deleteSecContext = library.Function<DeleteSecContext>("gss_delete_sec_context");
    releaseBuffer = library.Function<ReleaseBuffer>("gss_release_buffer");
    acquireCred = library.Function<AcquireCred>("gss_acquire_cred");
    releaseCred = library.Function<ReleaseCred>("gss_release_cred");
    displayStatus = library.Function<DisplayStatus>("gss_display_status");
    return importName && releaseName && initSecContext && deleteSecContext && releaseBuffer &&
           acquireCred && releaseCred && displayStatus;
  }

  void Load() {
    for (const char* name : kGssLibraries) {
      if (!library.Load(name)) {
        loadError = library.ErrorText();
        continue;
      }
      if (Bind()) return;
      loadError = std::string(name) + " lacks the GSS-API entry points";
      library.Free();
    }
  }

  // The text of one kind of status code, every message of it joined.
  [[nodiscard]] std::string StatusText(OM_uint32 code, int type) const {
    std::string text;
    OM_uint32 context = 0;
    // A library that keeps answering "more" must not hold the caller for ever.
    constexpr int kMaxMessages = 8;
    for (int i = 0; i < kMaxMessages; ++i) {
      OM_uint32 minor = 0;
      gss_buffer_desc message{0, nullptr};
      if (displayStatus(&minor, code, type, nullptr, &context, &message) & kGssErrorMask) break;
      if (!text.empty()) text += "; ";
      text.append(static_cast<const char*>(message.value), message.length);
      releaseBuffer(&minor, &message);
      if (context == 0) break;
    }
    return text;
  }

  [[nodiscard]] std::string ErrorText(const char* call, OM_uint32 major, OM_uint32 minor) const {
    std::string text = std::string(call) + ": " + StatusText(major, kGssCGssCode);
    if (minor != 0) text += " (" + StatusText(minor, kGssCMechCode) + ")";
    return text;
  }
};

// Loaded on first use, kept to the end of the process: contexts made from it may live anywhere.
TGssApi& GssApi() {
  static TGssApi api;
  static std::once_flag loaded;
  std::call_once(loaded, [] { api.Load(); });
  return api;
}

class TGssContext final : public TSecurityContext {
 public:
  TGssContext(TGssApi& api, gss_name_t target, gss_OID_desc* mechanism)
      : api_(api), target_(target), mechanism_(mechanism) {}

  ~TGssContext() override {
    OM_uint32 minor = 0;
    if (context_ != nullptr) api_.deleteSecContext(&minor, &context_, nullptr);
    api_.releaseName(&minor, &target_);
  }

  TSecurityStatus Step(const TSecurityToken& input, TSecurityToken& output) override {
    output.clear();
    gss_buffer_desc in{input.size(), const_cast<std::uint8_t*>(input.data())};
    gss_buffer_desc out{0, nullptr};
    OM_uint32 minor = 0;
    // No mutual authentication asked for: the answer's own token is not waited for, and a
    // server that sends none still lets the request through.
    const OM_uint32 major =
        api_.initSecContext(&minor, nullptr, &context_, target_, mechanism_, 0, 0, nullptr,
                            input.empty() ? nullptr : &in, nullptr, &out, nullptr, nullptr);
    if (out.length > 0) {
      const auto* bytes = static_cast<const std::uint8_t*>(out.value);
      output.assign(bytes, bytes + out.length);
    }
    OM_uint32 ignored = 0;
    if (out.value != nullptr) api_.releaseBuffer(&ignored, &out);
    if (major & kGssErrorMask) {
      output.clear();
      SetErrorText(api_.ErrorText("gss_init_sec_context", major, minor));
      return TSecurityStatus::Failed;
    }
    return (major & kGssSContinueNeeded) ? TSecurityStatus::Continue : TSecurityStatus::Complete;
  }

 private:
  TGssApi& api_;
  gss_name_t target_;
  gss_OID_desc* mechanism_;
  gss_ctx_id_t context_ = nullptr;
};

// Whether the ticket cache holds a Kerberos credential that has not expired.
bool HoldsTicket(TGssApi& api, std::string& why) {
  gss_OID_set_desc mechanisms{1, &gKerberosOid};
  gss_cred_id_t credential = nullptr;
  OM_uint32 minor = 0;
  OM_uint32 lifetime = 0;
  const OM_uint32 major = api.acquireCred(&minor, nullptr, kGssCIndefinite, &mechanisms,
                                          kGssCInitiate, &credential, nullptr, &lifetime);
  if (major & kGssErrorMask) {
    why = api.ErrorText("gss_acquire_cred", major, minor);
    return false;
  }
  OM_uint32 ignored = 0;
  api.releaseCred(&ignored, &credential);
  if (lifetime == 0) {
    why = "the Kerberos ticket has expired";
    return false;
  }
  return true;
}

TGssApi* UsableApi(TSecurityPackage package, std::string& why) {
  if (package == TSecurityPackage::NTLM) {
    why = "NTLM through the system is available on Windows only";
    return nullptr;
  }
  TGssApi& api = GssApi();
  if (!api.library.Loaded()) {
    why = "no GSS-API library (Debian libgssapi-krb5-2): " + api.loadError;
    return nullptr;
  }
  return HoldsTicket(api, why) ? &api : nullptr;
}

}  // namespace

bool SecurityPackageUsable(TSecurityPackage package, const TSecurityIdentity& /*identity*/,
                           std::string& why) {
  return UsableApi(package, why) != nullptr;
}

std::unique_ptr<TSecurityContext> NewSecurityContext(TSecurityPackage package,
                                                     const std::string& host,
                                                     const TSecurityIdentity& /*identity*/,
                                                     std::string& why) {
  TGssApi* api = UsableApi(package, why);
  if (api == nullptr) return nullptr;
  std::string service = "HTTP@" + host;
  gss_buffer_desc name{service.size(), service.data()};
  gss_name_t target = nullptr;
  OM_uint32 minor = 0;
  const OM_uint32 major = api->importName(&minor, &name, &gHostBasedServiceOid, &target);
  if (major & kGssErrorMask) {
    why = api->ErrorText("gss_import_name", major, minor);
    return nullptr;
  }
  // SPNEGO may hold other mechanisms (an NTLM one where gss-ntlmssp is installed); the Kerberos
  // package asks for krb5 itself.
  return std::make_unique<TGssContext>(
      *api, target, package == TSecurityPackage::Kerberos ? &gKerberosOid : &gSpnegoOid);
}

}  // namespace brixa
