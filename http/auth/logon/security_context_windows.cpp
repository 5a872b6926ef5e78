// Negotiate, NTLM and Kerberos through SSPI (secur32, loaded from the system folder only): the
// logged-on user's credentials, or ones the caller gives, answer without this program computing
// anything.

#define SECURITY_WIN32
#include <windows.h>
// clang-format off
#include <security.h>
// clang-format on

#include <mutex>

#include "http/auth/logon/security_context.h"
#include "platform/core/system_error.h"
#include "platform/library/dynamic_library.h"
#include "platform/library/system_library_windows.h"
#include "platform/system/wide_text_windows.h"

namespace brixa {
namespace {

// ISC_REQ_ALLOCATE_MEMORY: the package sizes the output token itself; ISC_REQ_CONNECTION: the
// context belongs to one connection, as HTTP's integrated authentication is.
constexpr ULONG kContextFlags = ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION;

struct TSspi {
  TDynamicLibrary library;
  std::string loadError;
  PSecurityFunctionTableW table = nullptr;

  void Load() {
    if (!LoadSystemLibrary(library, "secur32.dll", loadError)) return;
    using InitSecurityInterface = PSecurityFunctionTableW(WINAPI*)();
    const auto init = library.Function<InitSecurityInterface>("InitSecurityInterfaceW");
    table = init != nullptr ? init() : nullptr;
    if (table == nullptr || table->AcquireCredentialsHandleW == nullptr ||
        table->InitializeSecurityContextW == nullptr) {
      loadError = "secur32.dll has no usable security interface";
      table = nullptr;
    }
  }
};

TSspi& Sspi() {
  static TSspi sspi;
  static std::once_flag loaded;
  std::call_once(loaded, [] { sspi.Load(); });
  return sspi;
}

std::string StatusText(const char* call, SECURITY_STATUS status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
  std::string text = std::string(call) + " failed with " + code;
  const std::string system = SystemErrorText(static_cast<unsigned long>(status));
  return system.empty() ? text : text + " (" + system + ")";
}

const wchar_t* PackageName(TSecurityPackage package) {
  switch (package) {
    case TSecurityPackage::NTLM:
      return L"NTLM";
    case TSecurityPackage::Kerberos:
      return L"Kerberos";
    case TSecurityPackage::Negotiate:
      break;
  }
  return L"Negotiate";
}

// Given credentials as SSPI takes them: "DOMAIN\user" splits at the backslash; "user@realm"
// goes whole as the user name.
class TIdentity {
 public:
  explicit TIdentity(const TSecurityIdentity& identity) {
    const std::size_t slash = identity.User.find('\\');
    user_ =
        WideFromUtf8(slash == std::string::npos ? identity.User : identity.User.substr(slash + 1));
    if (slash != std::string::npos) domain_ = WideFromUtf8(identity.User.substr(0, slash));
    password_ = WideFromUtf8(identity.Password);
    data_.User = reinterpret_cast<unsigned short*>(user_.data());
    data_.UserLength = static_cast<unsigned long>(user_.size());
    data_.Domain = reinterpret_cast<unsigned short*>(domain_.data());
    data_.DomainLength = static_cast<unsigned long>(domain_.size());
    data_.Password = reinterpret_cast<unsigned short*>(password_.data());
    data_.PasswordLength = static_cast<unsigned long>(password_.size());
    data_.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
  }
  ~TIdentity() { ::SecureZeroMemory(password_.data(), password_.size() * sizeof(wchar_t)); }
  TIdentity(const TIdentity&) = delete;
  TIdentity& operator=(const TIdentity&) = delete;

  [[nodiscard]] SEC_WINNT_AUTH_IDENTITY_W* Data() noexcept { return &data_; }

 private:
  std::wstring user_;
  std::wstring domain_;
  std::wstring password_;
  SEC_WINNT_AUTH_IDENTITY_W data_{};
};

// A credential handle of the package for the logon (empty user) or the given identity.
bool AcquireCredentials(TSspi& sspi, TSecurityPackage package, const TSecurityIdentity& identity,
                        CredHandle& credentials, std::string& why) {
  TIdentity given(identity);
  TimeStamp expiry{};
  const SECURITY_STATUS status = sspi.table->AcquireCredentialsHandleW(
      nullptr, const_cast<wchar_t*>(PackageName(package)), SECPKG_CRED_OUTBOUND, nullptr,
      identity.User.empty() ? nullptr : given.Data(), nullptr, nullptr, &credentials, &expiry);
  if (status == SEC_E_OK) return true;
  why = StatusText("AcquireCredentialsHandle", status);
  return false;
}

class TSspiContext final : public TSecurityContext {
 public:
  TSspiContext(TSspi& sspi, CredHandle credentials, std::wstring target)
      : sspi_(sspi), credentials_(credentials), target_(std::move(target)) {}

  ~TSspiContext() override {
    if (started_) sspi_.table->DeleteSecurityContext(&context_);
    sspi_.table->FreeCredentialsHandle(&credentials_);
  }

  TSecurityStatus Step(const TSecurityToken& input, TSecurityToken& output) override {
    output.clear();
    SecBuffer inBuffer{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN,
                       const_cast<std::uint8_t*>(input.data())};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &inBuffer};
    SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
    ULONG attributes = 0;
    TimeStamp expiry{};
    const SECURITY_STATUS status = sspi_.table->InitializeSecurityContextW(
        &credentials_, started_ ? &context_ : nullptr, target_.data(), kContextFlags, 0,
        SECURITY_NATIVE_DREP, input.empty() ? nullptr : &inDesc, 0, &context_, &outDesc,
        &attributes, &expiry);
    if (outBuffer.pvBuffer != nullptr) {
      const auto* bytes = static_cast<const std::uint8_t*>(outBuffer.pvBuffer);
      output.assign(bytes, bytes + outBuffer.cbBuffer);
      sspi_.table->FreeContextBuffer(outBuffer.pvBuffer);
    }
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) started_ = true;
    if (status == SEC_E_OK) return TSecurityStatus::Complete;
    if (status == SEC_I_CONTINUE_NEEDED) return TSecurityStatus::Continue;
    // The packages this code asks for never want CompleteAuthToken over HTTP; a status that
    // would need it is treated as the failure it is here.
    output.clear();
    SetErrorText(StatusText("InitializeSecurityContext", status));
    return TSecurityStatus::Failed;
  }

 private:
  TSspi& sspi_;
  CredHandle credentials_;
  CtxtHandle context_{};
  std::wstring target_;
  bool started_ = false;
};

TSspi* LoadedSspi(std::string& why) {
  TSspi& sspi = Sspi();
  if (sspi.table == nullptr) {
    why = sspi.loadError;
    return nullptr;
  }
  return &sspi;
}

}  // namespace

bool SecurityPackageUsable(TSecurityPackage package, const TSecurityIdentity& identity,
                           std::string& why) {
  TSspi* sspi = LoadedSspi(why);
  if (sspi == nullptr) return false;
  CredHandle credentials{};
  if (!AcquireCredentials(*sspi, package, identity, credentials, why)) return false;
  sspi->table->FreeCredentialsHandle(&credentials);
  return true;
}

std::unique_ptr<TSecurityContext> NewSecurityContext(TSecurityPackage package,
                                                     const std::string& host,
                                                     const TSecurityIdentity& identity,
                                                     std::string& why) {
  TSspi* sspi = LoadedSspi(why);
  if (sspi == nullptr) return nullptr;
  CredHandle credentials{};
  if (!AcquireCredentials(*sspi, package, identity, credentials, why)) return nullptr;
  return std::make_unique<TSspiContext>(*sspi, credentials, WideFromUtf8("HTTP/" + host));
}

}  // namespace brixa
