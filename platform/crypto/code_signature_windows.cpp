// Authenticode through WinVerifyTrust on an open handle, and a PKCS#7 block's signer through
// crypt32's message functions.

#include <windows.h>
// After windows.h: they need its types.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "platform/crypto/code_signature.h"
#include "platform/crypto/signature.h"
#include "platform/library/dynamic_library.h"

namespace brixa {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// wintrust.dll is no known DLL: taken from the system folder by bare name, at run time.
struct Wintrust {
  using Verify = LONG(WINAPI*)(HWND, GUID*, LPVOID);
  using ProvData = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
  using ProvSigner = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);

  TDynamicLibrary library;
  Verify verify = nullptr;
  ProvData provData = nullptr;
  ProvSigner provSigner = nullptr;

  [[nodiscard]] bool Load() {
    if (!library.Load("wintrust.dll")) return false;
    verify = library.Function<Verify>("WinVerifyTrust");
    provData = library.Function<ProvData>("WTHelperProvDataFromStateData");
    provSigner = library.Function<ProvSigner>("WTHelperGetProvSignerFromChain");
    return verify && provData && provSigner;
  }
};

std::wstring Wide(const std::string& text) {
  const int size = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), size);
  wide.resize(static_cast<std::size_t>(size - 1));
  return wide;
}

// The primary signer's certificate of a verified file's provider state; "" when there is none.
std::string PrimarySignerCertificate(const Wintrust& wintrust, HANDLE state) {
  CRYPT_PROVIDER_DATA* data = wintrust.provData(state);
  if (data == nullptr) return {};
  CRYPT_PROVIDER_SGNR* signer = wintrust.provSigner(data, 0, FALSE, 0);
  if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) return {};
  const CERT_CONTEXT* certificate = signer->pasCertChain[0].pCert;
  if (certificate == nullptr) return {};
  return {reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded};
}

TCodeSignatureState StateOf(LONG status) {
  switch (static_cast<HRESULT>(status)) {
    case ERROR_SUCCESS:
      return TCodeSignatureState::csSigned;
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
    case TRUST_E_PROVIDER_UNKNOWN:
      return TCodeSignatureState::csUnsigned;
    default:
      return TCodeSignatureState::csInvalid;
  }
}

}  // namespace

TCodeSignature VerifyCodeSignature(std::intptr_t handle, const std::string& fileName) {
  Wintrust wintrust;
  if (!wintrust.Load()) throw ESignatureError("wintrust.dll cannot be used");
  const std::wstring name = Wide(fileName);
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = name.c_str();
  file.hFile = reinterpret_cast<HANDLE>(handle);  // read through this handle, never by name
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  // Nothing is fetched from the network: no revocation lists, no missing certificates.
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const auto noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  TCodeSignature result;
  const LONG status = wintrust.verify(noWindow, &action, &data);
  result.Status = static_cast<unsigned long>(status);
  result.State = StateOf(status);
  if (result.State == TCodeSignatureState::csSigned) {
    result.SignerCertificate = PrimarySignerCertificate(wintrust, data.hWVTStateData);
    if (result.SignerCertificate.empty()) result.State = TCodeSignatureState::csInvalid;
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  (void)wintrust.verify(noWindow, &action, &data);
  return result;
}

namespace {

// The certificate of the message's one signer from the certificates the message carries.
std::optional<std::string> OneSignerCertificate(HCRYPTMSG message) {
  DWORD count = 0;
  DWORD size = sizeof count;
  if (!::CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size) || count != 1) {
    return std::nullopt;
  }
  size = 0;
  if (!::CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size)) {
    return std::nullopt;
  }
  std::string info(size, '\0');
  if (!::CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
    return std::nullopt;
  }
  const HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message);
  if (store == nullptr) return std::nullopt;
  std::optional<std::string> der;
  const CERT_CONTEXT* certificate = ::CertGetSubjectCertificateFromStore(
      store, kEncoding, reinterpret_cast<CERT_INFO*>(info.data()));
  if (certificate != nullptr) {
    der.emplace(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                certificate->cbCertEncoded);
    ::CertFreeCertificateContext(certificate);
  }
  ::CertCloseStore(store, 0);
  return der;
}

}  // namespace

std::optional<std::string> SignedDataSignerCertificate(std::string_view der) {
  if (der.size() > MAXDWORD) return std::nullopt;
  const HCRYPTMSG message = ::CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
  if (message == nullptr) throw ESignatureError("crypt32 cannot decode messages");
  std::optional<std::string> certificate;
  if (::CryptMsgUpdate(message, reinterpret_cast<const BYTE*>(der.data()),
                       static_cast<DWORD>(der.size()), TRUE)) {
    DWORD type = 0;
    DWORD size = sizeof type;
    if (::CryptMsgGetParam(message, CMSG_TYPE_PARAM, 0, &type, &size) && type == CMSG_SIGNED) {
      certificate = OneSignerCertificate(message);
    }
  }
  ::CryptMsgClose(message);
  return certificate;
}

}  // namespace brixa
