// Interactive line input of TIdIOHandler: a line typed at a terminal, with echo and editing.

#include <string>

#include "runtime/time/ticks.h"
#include "transport/io/io_handler.h"

namespace brixa {

namespace {

constexpr char32_t kBackspace = 0x08;
constexpr char32_t kTab = 0x09;
constexpr char32_t kLineFeed = 0x0A;
constexpr char32_t kCarriageReturn = 0x0D;
constexpr char32_t kDelete = 0x7F;
constexpr char32_t kFirstPrintable = 0x20;
constexpr char32_t kFirstC1Control = 0x80;
constexpr char32_t kLastC1Control = 0x9F;
constexpr std::uint8_t kEraseEcho[] = {0x08, ' ', 0x08};
constexpr std::uint8_t kEndEcho[] = {'\r', '\n'};

[[nodiscard]] bool IsIgnoredControl(char32_t c) noexcept {
  return c < kFirstPrintable || (c >= kFirstC1Control && c <= kLastC1Control);
}

// Decodes one received byte. For UTF-8 a character may take several bytes (false until the
// last); a byte that breaks a sequence drops the sequence and is tried again as a start, and a
// byte that cannot start one is dropped. Other encodings take one byte per character.
[[nodiscard]] bool DecodeInputByte(TIdUTF8ByteDecoder& decoder, std::uint8_t byte,
                                   TIdCharEncoding encoding, std::string& character) {
  character.clear();
  if (encoding != ceUTF8) {
    character = BytesToText(TIdByteArray{byte}, encoding);
    return true;
  }
  char32_t codePoint = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool inSequence = decoder.InSequence();
    try {
      if (!decoder.Feed(byte, codePoint)) return false;
      AppendUTF8(character, codePoint);
      return true;
    } catch (const EIdException&) {
      // The decoder has reset itself; a byte that ended a broken sequence may start a new one.
      if (!inSequence) return false;
    }
  }
  return false;
}

[[nodiscard]] char32_t FirstCodePoint(const std::string& character) {
  TIdUTF8ByteDecoder decoder;
  char32_t codePoint = 0;
  for (const char c : character) {
    if (decoder.Feed(static_cast<std::uint8_t>(c), codePoint)) return codePoint;
  }
  return codePoint;
}

void Append(TIdByteArray& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

void TIdIOHandler::SendEcho(TIdByteArray& VEcho) {
  if (VEcho.empty()) return;
  WriteBytes(VEcho);
  VEcho.clear();
}

bool TIdIOHandler::NextInputByte(std::uint32_t AStarted, std::uint8_t& VByte, TIdByteArray& VEcho) {
  while (inBuffer_->Size() == 0) {
    // The person sees what was typed so far before we wait for more.
    SendEcho(VEcho);
    DetectClosure(true, true);
    std::int32_t wait = TimeoutInfinite;
    if (readTimeout_ > 0) {
      const std::uint32_t elapsed = TickDiff(AStarted, TickCountMs());
      if (elapsed >= static_cast<std::uint32_t>(readTimeout_)) return false;
      wait = readTimeout_ - static_cast<std::int32_t>(elapsed);
    }
    if (FillInputBuffer(true, wait, false) == -1) return false;
  }
  VByte = inBuffer_->Bytes()[0];
  inBuffer_->DropFront(1);
  return true;
}

std::string TIdIOHandler::InputLn(std::string_view AMask, bool AEcho, std::int32_t ATabWidth,
                                  std::int32_t AMaxLineLength, TIdCharEncoding AEncoding) {
  const TIdCharEncoding encoding = Resolve(AEncoding);
  const std::int32_t maxLength = AMaxLineLength < 0 ? maxLineLength_ : AMaxLineLength;
  const auto full = [&] {
    return maxLength > 0 && inputChars_.size() >= static_cast<std::size_t>(maxLength);
  };
  const TIdByteArray mask = AMask.empty() ? TIdByteArray() : TextToBytes(AMask, encoding);
  lineTimedOut_ = false;
  const std::uint32_t started = TickCountMs();
  TIdByteArray echo;
  const auto accept = [&](std::string character) {
    if (full()) return;
    if (AEcho) Append(echo, mask.empty() ? TextToBytes(character, encoding) : mask);
    inputChars_.push_back(std::move(character));
  };
  std::string character;
  for (;;) {
    std::uint8_t byte = 0;
    if (!NextInputByte(started, byte, echo)) {
      SendEcho(echo);
      lineTimedOut_ = true;
      throw EIdReadTimeout(RSReadTimeout);
    }
    if (inputEndPartner_ != 0) {
      const bool pairsWithLastEnd = byte == inputEndPartner_;
      inputEndPartner_ = 0;
      if (pairsWithLastEnd) continue;
    }
    if (!DecodeInputByte(inputDecoder_, byte, encoding, character)) continue;
    const char32_t codePoint = FirstCodePoint(character);
    if (codePoint == kCarriageReturn || codePoint == kLineFeed) {
      const std::uint8_t partner = codePoint == kCarriageReturn ? '\n' : '\r';
      if (inBuffer_->Size() > 0 && inBuffer_->Bytes()[0] == partner) {
        inBuffer_->DropFront(1);
      } else {
        inputEndPartner_ = partner;
      }
      if (AEcho) Append(echo, kEndEcho);
      SendEcho(echo);
      std::string line;
      for (const std::string& typed : inputChars_) line += typed;
      inputChars_.clear();
      return line;
    }
    if (codePoint == kBackspace || codePoint == kDelete) {
      if (inputChars_.empty()) continue;
      inputChars_.pop_back();
      if (AEcho) Append(echo, kEraseEcho);
    } else if (codePoint == kTab) {
      if (ATabWidth <= 0) continue;
      const auto width = static_cast<std::size_t>(ATabWidth);
      const std::size_t spaces = width - inputChars_.size() % width;
      for (std::size_t i = 0; i < spaces; ++i) accept(" ");
    } else if (!IsIgnoredControl(codePoint)) {
      accept(character);
    }
  }
}

}  // namespace brixa
