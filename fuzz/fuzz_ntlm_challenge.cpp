// Reads arbitrary bytes as a server's NTLM challenge (type-2) message and answers what it
// accepts with version 2: the reader stays within the message, the time stamp search within the
// target information, and the answer carries that information whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "http/auth/ntlm/auth_ntlm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const brixa::TIdByteArray message(data, data + size);
  brixa::TNTLMChallengeMessage challenge;
  try {
    challenge = brixa::ReadNTLMChallengeMessage(message);
  } catch (const brixa::EIdNTLMInvalidChallenge&) {
    return 0;
  }
  if (challenge.TargetInfo.size() > size) std::abort();
  std::uint64_t timestamp = 0;
  (void)brixa::NTLMTargetInfoTimestamp(challenge.TargetInfo, timestamp);
  const brixa::TNTLMClientChallenge client{};
  const brixa::TNTLMv2Responses responses =
      brixa::NTLMv2ResponsesFor("user", "DOMAIN", "password", challenge.ServerChallenge, client,
                                timestamp, challenge.TargetInfo);
  if (responses.NT.size() != 16 + 28 + challenge.TargetInfo.size() + 4) std::abort();
  const brixa::TIdByteArray answer =
      brixa::NTLMv2AuthenticateMessage("DOMAIN", "user", "HOST", responses);
  if (answer.size() != 64 + 12 + 8 + 8 + responses.LM.size() + responses.NT.size()) std::abort();
  return 0;
}
