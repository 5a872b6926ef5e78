// Starting and stopping the loopback realm through scripts/kerberos_realm.sh, and pointing this
// process's Kerberos library at it.

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "support/peers/kerberos_realm.h"
#include "support/peers/peer_process.h"
#include "support/temp_dir.h"

namespace brixa::test {
namespace {

// Making the database, two RSA keys and three servers: under 10 s on a loaded machine.
constexpr int kStartTimeoutMs = 60000;
constexpr int kStopTimeoutMs = 15000;  // squid needs about 2 s after TERM
constexpr int kMissingPackage = 3;     // the script's exit code for a missing binary

std::string Script() {
  return std::string(BRIXA_SOURCE_DIR) + "/scripts/kerberos_realm.sh";
}

std::map<std::string, std::string> ReadEnvFile(const std::string& path) {
  std::map<std::string, std::string> values;
  std::istringstream lines(ReadFileText(path));
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

std::string MakeDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brixa-krb5.XXXXXX").string();
  return mkdtemp(pattern.data()) == nullptr ? std::string() : pattern;
}

}  // namespace

std::unique_ptr<KerberosRealm> KerberosRealm::Start(std::string& whyNot) {
  const std::string dir = MakeDir();
  if (dir.empty()) {
    whyNot = "no temp dir for the realm";
    return nullptr;
  }
  const ProgramResult started = RunProgram("/bin/bash", {Script(), "start", dir}, kStartTimeoutMs);
  const auto env = ReadEnvFile(dir + "/env");
  // Made before the checks, so that whatever did start is stopped.
  std::unique_ptr<KerberosRealm> realm(
      new KerberosRealm(dir, env.count("APACHE_PORT") ? std::stoi(env.at("APACHE_PORT")) : 0,
                        env.count("APACHE_TLS_PORT") ? std::stoi(env.at("APACHE_TLS_PORT")) : 0,
                        env.count("SQUID_PORT") ? std::stoi(env.at("SQUID_PORT")) : 0));
  if (started.exitCode != 0) {
    whyNot = started.exitCode == kMissingPackage
                 ? started.stdErr
                 : "the Kerberos realm did not start: " + started.stdErr;
    return nullptr;
  }
  const ProgramResult ticket = RunProgram("/bin/bash", {Script(), "kinit", dir}, kStartTimeoutMs);
  if (ticket.exitCode != 0) {
    whyNot = "kinit failed: " + ticket.stdErr;
    return nullptr;
  }
  setenv("KRB5_CONFIG", env.at("KRB5_CONFIG").c_str(), 1);
  realm->UseTicket();
  return realm;
}

KerberosRealm::~KerberosRealm() {
  (void)RunProgram("/bin/bash", {Script(), "stop", dir_}, kStopTimeoutMs);
  unsetenv("KRB5_CONFIG");
  unsetenv("KRB5CCNAME");
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void KerberosRealm::UseTicket() const {
  setenv("KRB5CCNAME", ("FILE:" + dir_ + "/alice.ccache").c_str(), 1);
}

void KerberosRealm::UseNoTicket() const {
  setenv("KRB5CCNAME", ("FILE:" + dir_ + "/nobody.ccache").c_str(), 1);
}

std::string KerberosRealm::ApacheUrl() const {
  return "http://127.0.0.1:" + std::to_string(apachePort_);
}

std::string KerberosRealm::ApacheTlsUrl() const {
  return "https://127.0.0.1:" + std::to_string(apacheTlsPort_);
}

std::string KerberosRealm::SquidAddress() const {
  return "127.0.0.1:" + std::to_string(squidPort_);
}

std::string KerberosRealm::CaFile() const {
  return dir_ + "/ca.crt";
}

}  // namespace brixa::test
