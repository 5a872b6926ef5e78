#pragma once
// TIdIOHandler: the buffered line and byte layer between a protocol and its byte source, with
// time limits, line-length limits and work reports.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/stream.h"
#include "runtime/text/bytes.h"
#include "runtime/text/encoding.h"
#include "runtime/work_component.h"
#include "transport/io/buffer.h"
#include "transport/io/intercept.h"
#include "transport/io/io_handler_exceptions.h"
#include "transport/socket/stack_consts.h"

namespace brixa {

using TNotifyEvent = std::function<void(TComponent* ASender)>;

enum TIdMaxLineAction { maException, maSplit };

inline constexpr std::int32_t IdMaxLineLengthDefault = 16384;
inline constexpr std::int32_t IdDefaultBufferSize = 32768;
inline constexpr std::int32_t IdMaxCapturedLinesUnlimited = -1;
// How long ReadUntilClose waits in one step before looking again.
inline constexpr std::int32_t IdReadUntilCloseStepMs = 250;
// Attempts of ReadLineSkipEmpty that line-based command replies use: as many as there are.
inline constexpr std::int32_t IdMaxLineAttempts = 0x7FFFFFFF;
// Distance between the tab stops of InputLn.
inline constexpr std::int32_t IdInputLnTabWidth = 8;

// The buffered byte and line layer between a protocol and a byte source.
//
// Everything received lands in InBuffer() first; lines, exact byte counts and streams are taken
// from there. Everything sent goes straight to the target, or into the write buffer while one is
// open. Removing bytes from InBuffer() reports read work (AddWork wmRead); the target accepting
// bytes reports write work. A connection sets itself as WorkDelegate, so the reports surface on
// the connection.
//
// Time limits are milliseconds: TimeoutUseDefault (-1) as an argument means ReadTimeout(); as
// ReadTimeout() it means no limit, as do TimeoutInfinite (-2) and a ReadTimeout() of 0; an
// explicit 0 polls once.
//
// A concrete handler supplies the source: SourceIsAvailable, SourceReadable, ReadDataFromSource
// and WriteDataToTarget. One thread uses a handler at a time.
class TIdIOHandler : public TIdComponent {
 public:
  explicit TIdIOHandler(TComponent* owner = nullptr);
  ~TIdIOHandler() override;

  // --- Properties ----------------------------------------------------------------------------

  [[nodiscard]] const std::string& Host() const noexcept { return host_; }
  virtual void SetHost(const std::string& AValue) { host_ = AValue; }
  [[nodiscard]] std::int32_t Port() const noexcept { return port_; }
  virtual void SetPort(std::int32_t AValue) { port_ = AValue; }
  [[nodiscard]] virtual std::string Destination() const { return destination_; }
  virtual void SetDestination(const std::string& AValue) { destination_ = AValue; }
  [[nodiscard]] TIdConnectionIntercept* Intercept() const noexcept { return intercept_; }
  virtual void SetIntercept(TIdConnectionIntercept* AValue);

  [[nodiscard]] std::int32_t MaxLineLength() const noexcept { return maxLineLength_; }
  void SetMaxLineLength(std::int32_t AValue) noexcept { maxLineLength_ = AValue; }
  [[nodiscard]] TIdMaxLineAction MaxLineAction() const noexcept { return maxLineAction_; }
  void SetMaxLineAction(TIdMaxLineAction AValue) noexcept { maxLineAction_ = AValue; }
  // Bytes asked for in one read from the source, and the chunk size of ReadIntoStream.
  [[nodiscard]] std::int32_t RecvBufferSize() const noexcept { return recvBufferSize_; }
  void SetRecvBufferSize(std::int32_t AValue);
  // Chunk size in which WriteFromStream reads its stream (sends are never split by it).
  [[nodiscard]] std::int32_t SendBufferSize() const noexcept { return sendBufferSize_; }
  void SetSendBufferSize(std::int32_t AValue);
  [[nodiscard]] std::int32_t ReadTimeout() const noexcept { return readTimeout_; }
  virtual void SetReadTimeout(std::int32_t AValue) { readTimeout_ = AValue; }
  [[nodiscard]] std::int32_t ConnectTimeout() const noexcept { return connectTimeout_; }
  virtual void SetConnectTimeout(std::int32_t AValue) { connectTimeout_ = AValue; }
  [[nodiscard]] std::int32_t MaxCapturedLines() const noexcept { return maxCapturedLines_; }
  void SetMaxCapturedLines(std::int32_t AValue) noexcept { maxCapturedLines_ = AValue; }
  // Stream sizes and length prefixes are 64-bit instead of 32-bit.
  [[nodiscard]] bool LargeStream() const noexcept { return largeStream_; }
  void SetLargeStream(bool AValue) noexcept { largeStream_ = AValue; }
  [[nodiscard]] TIdCharEncoding DefaultTextEncoding() const noexcept { return encoding_; }
  // Raises EIdNoEncodingSpecified "No encoding specified." for ceNone.
  void SetDefaultTextEncoding(TIdCharEncoding AValue);

  [[nodiscard]] TIdBuffer& InBuffer() noexcept { return *inBuffer_; }
  [[nodiscard]] const TIdBuffer& InBuffer() const noexcept { return *inBuffer_; }
  [[nodiscard]] bool IsOpen() const noexcept { return isOpen_; }
  [[nodiscard]] bool PeerClosed() const noexcept { return peerClosed_; }
  // Outcome of the last ReadLine.
  [[nodiscard]] bool LineWasSplit() const noexcept { return lineWasSplit_; }
  [[nodiscard]] bool LineTimedOut() const noexcept { return lineTimedOut_; }
  [[nodiscard]] bool WriteBufferingActive() const noexcept { return writeBuffer_ != nullptr; }
  // Bytes collected in the write buffer (0 when none is open).
  [[nodiscard]] std::int32_t WriteBufferSize() const noexcept;

  // --- State ---------------------------------------------------------------------------------

  // Not open, peer not closed, both buffers emptied, then open.
  virtual void OpenHandler();
  // Tells the intercept the connection ends, then not open and the write buffer emptied (also
  // when the intercept raises). InBuffer() keeps its bytes until the next OpenHandler. Unless
  // the peer had closed first, the handler counts as closed by us (ClosedLocally()).
  virtual void CloseHandler();
  // Open, and the peer has not closed with nothing left to read.
  [[nodiscard]] virtual bool Connected();
  // When the peer closed, closes the handler (status "Disconnected."). When the connection is
  // gone and (InBuffer() is empty or `AIgnoreBuffer`), raises EIdConnClosedGracefully if
  // `ARaiseExceptionIfDisconnected`.
  virtual void DetectClosure(bool ARaiseExceptionIfDisconnected = true, bool AIgnoreBuffer = false);
  virtual void MarkPeerClosed() { peerClosed_ = true; }
  // This side ended the connection: it no longer counts as connected, whatever InBuffer() still
  // holds (those bytes stay readable), so it may be opened again. Set by CloseHandler unless
  // the peer closed first, and by a connection that closes a handler the peer already closed;
  // cleared by OpenHandler.
  [[nodiscard]] bool ClosedLocally() const noexcept { return closedLocally_; }
  void MarkClosedLocally() noexcept { closedLocally_ = true; }
  // Hook run after a server accepted the connection onto this handler.
  virtual void AfterAccept() {}

  // --- Reading -------------------------------------------------------------------------------

  // One read from the source into InBuffer(), waiting at most `ATimeout`. Returns the count
  // read, 0 when the peer closed (or the source is not open and no raise was asked for), or -1
  // when nothing arrived in time and `ARaiseOnTimeout` is false.
  std::int32_t FillInputBuffer(bool ARaiseExceptionIfDisconnected = true,
                               std::int32_t ATimeout = TimeoutUseDefault,
                               bool ARaiseOnTimeout = true);
  // One line without its terminator (and, for the LF terminator, without a CR before it). An
  // empty terminator means LF; ceNone the default encoding; AMaxLineLength < 0 MaxLineLength().
  // A timeout gives empty text with LineTimedOut() set, not an exception.
  std::string ReadLine(std::string_view ATerminator = "\n",
                       std::int32_t ATimeout = TimeoutUseDefault,
                       TIdCharEncoding AEncoding = ceNone, std::int32_t AMaxLineLength = -1);
  // The first line that is not empty after trimming, trimmed. Raises EIdReadTimeout on a timeout
  // and EIdReadLnWaitMaxAttemptsExceeded after `AMaxAttempts` empty lines.
  std::string ReadLineSkipEmpty(std::int32_t AMaxAttempts = IdMaxLineAttempts,
                                TIdCharEncoding AEncoding = ceNone);
  // ACount > 0: exactly that many bytes; ACount < 0: whatever is buffered after one read; 0:
  // nothing. Appended to VBuffer, or written over its start without `AAppend`. A peer that
  // closes first raises EIdConnClosedGracefully and the bytes received stay in InBuffer().
  void ReadByteCount(TIdByteArray& VBuffer, std::int32_t ACount, bool AAppend = true);
  // Reads ASize bytes (-1: a length prefix is read first, unless `AReadUntilDisconnect`), or
  // everything until the peer closes, into the stream at its position, in chunks of
  // RecvBufferSize() with one work report per chunk. The stream grows only by the bytes that
  // arrive (never ahead to ASize) and ends where they end; the read work span (announcing ASize)
  // is closed whatever happens.
  void ReadIntoStream(TStream& AStream, std::int64_t ASize = -1, bool AReadUntilDisconnect = false);
  // While on, ReadIntoStream asks the source for up to RecvBufferSize() bytes per read even when
  // fewer are missing, and the surplus stays in InBuffer(). For callers that know more of the
  // same message follows (the chunks of a chunked body): what follows then costs no read of its
  // own. Off by default, so a body read leaves what follows it in the socket.
  void SetReadAhead(bool AValue) noexcept { readAhead_ = AValue; }
  [[nodiscard]] bool ReadAhead() const noexcept { return readAhead_; }
  // True when connected and InBuffer() already holds bytes, or one read within `ATimeout`
  // brought some.
  [[nodiscard]] virtual bool HasDataOnSource(std::int32_t ATimeout = 0);
  // Everything until the peer closes, as text. Failures end the reading silently.
  std::string ReadUntilClose(TIdCharEncoding AEncoding = ceNone);
  std::uint8_t ReadUInt8();
  std::int32_t ReadInt32(bool AConvertFromNetworkOrder = true);
  std::int64_t ReadInt64(bool AConvertFromNetworkOrder = true);
  // One character as text: one byte, or for UTF-8 as many as the character takes.
  std::string ReadChar(TIdCharEncoding AEncoding = ceNone);
  // Interactive line input from a person typing at a terminal on the other end. Reads one byte
  // at a time and edits the line as a terminal would:
  //  - CR or LF ends the line; the other one of a CR LF or LF CR pair is consumed with it (when
  //    it has not arrived yet, the next InputLn skips it if it comes first). The end is echoed
  //    as CR LF.
  //  - BS (0x08) and DEL (0x7F) remove the last character and echo BS SP BS; nothing at an
  //    empty line. A character is one code point, so a multi-byte UTF-8 character goes at once.
  //  - TAB becomes spaces up to the next multiple of `ATabWidth` characters (each space is a
  //    character of its own); `ATabWidth` <= 0 ignores tabs.
  //  - Other control characters (below 0x20, and 0x80-0x9F as code points) are ignored, and so
  //    are bytes that are not valid UTF-8 when decoding UTF-8. Escape sequences are not
  //    interpreted: their ESC is dropped, the rest is text.
  //  - At `AMaxLineLength` characters (< 0: MaxLineLength(); 0 after that: no limit) further
  //    characters are ignored, not echoed; tabs are cut at the limit.
  //  - Every accepted character is echoed when `AEcho`: `AMask` when that is not empty (a
  //    password prompt), else the character itself, encoded in `AEncoding` (ceNone: the default
  //    encoding). Echoes go through WriteBytes, batched per received block.
  // ReadTimeout() (> 0) limits the whole line: when it passes, LineTimedOut() is set and
  // EIdReadTimeout "Read timed out." is raised; the part typed so far is kept and the next
  // InputLn continues it. A peer that closes raises EIdConnClosedGracefully.
  std::string InputLn(std::string_view AMask = {}, bool AEcho = true,
                      std::int32_t ATabWidth = IdInputLnTabWidth, std::int32_t AMaxLineLength = -1,
                      TIdCharEncoding AEncoding = ceNone);
  // Reads lines up to one that equals `ADelimiter` (not included) into `VLines`; with
  // `AUsesDotTransparency` a doubled leading dot loses one dot. Raises
  // EIdMaxCaptureLineExceeded when MaxCapturedLines() >= 0 lines would be exceeded.
  void Capture(std::vector<std::string>& VLines, std::string_view ADelimiter = ".",
               bool AUsesDotTransparency = true, TIdCharEncoding AEncoding = ceNone);

  // --- Writing -------------------------------------------------------------------------------

  // ABuffer[AOffset ...], at most ALength bytes (-1: all).
  void WriteBytes(const TIdByteArray& ABuffer, std::int32_t ALength = -1, std::int32_t AOffset = 0);
  void WriteBytes(std::span<const std::uint8_t> ABuffer);
  void WriteText(std::string_view AText, TIdCharEncoding AEncoding = ceNone);
  // The text and CR LF in one write.
  void WriteLine(std::string_view AText = {}, TIdCharEncoding AEncoding = ceNone);
  // WriteLine for dot-terminated protocols: a leading "." is doubled first.
  void WriteLineDotStuffed(std::string_view AText, TIdCharEncoding AEncoding = ceNone);
  // Each line with WriteLine in one write buffer, optionally after the line count (32-bit).
  void WriteStrings(const std::vector<std::string>& ALines, bool AWriteLinesCount = false,
                    TIdCharEncoding AEncoding = ceNone);
  // One character (given as its code point) in the encoding.
  void WriteChar(char32_t AChar, TIdCharEncoding AEncoding = ceNone);
  void WriteInt32(std::int32_t AValue, bool AConvertToNetworkOrder = true);
  void WriteInt64(std::int64_t AValue, bool AConvertToNetworkOrder = true);
  // ASize 0: the whole stream from its start; < 0: from the position to the end; > 0: that many
  // bytes from the position. With `AWriteByteCount` the size goes first (32-bit, or 64-bit with
  // LargeStream()). Raises EIdIOHandlerRequiresLargeStream for sizes beyond 32 bits without
  // LargeStream() and EIdNoDataToRead when the stream runs dry.
  void WriteFromStream(TStream& AStream, std::int64_t ASize = 0, bool AWriteByteCount = false);
  // The whole file through WriteFromStream; EIdFileNotFound when it does not exist.
  void WriteFile(const std::string& AFileName);

  // Sends ABuffer now, past the write buffer, in as many writes as the target needs.
  void SendNow(std::span<const std::uint8_t> ABuffer);

  // Write buffering: while open, writes are collected and sent when the buffer reaches the
  // threshold (> 0), when flushed, or when closed (-1 or 0: only then).
  void OpenWriteBuffer(std::int32_t AThreshold = -1);
  // Sends all collected bytes, then stops buffering (also when the send raised).
  void CloseWriteBuffer();
  // Sends the first ACount collected bytes (-1: all).
  void FlushWriteBuffer(std::int32_t AByteCount = -1);
  void ClearWriteBuffer();
  // Drops the collected bytes and stops buffering.
  void CancelWriteBuffer();

 protected:
  // The source is open (a socket exists).
  [[nodiscard]] virtual bool SourceIsAvailable() const = 0;
  // Waits at most ATimeout for readable data; false on timeout. The base answers false.
  [[nodiscard]] virtual bool SourceReadable(std::int32_t ATimeout);
  // One read into `ABuffer`: the count, 0 when the peer closed, or -1 for sources that report
  // failures that way (their number then comes from LastSourceError).
  virtual std::int32_t ReadDataFromSource(std::span<std::uint8_t> ABuffer) = 0;
  // One write of (a first part of) `ABuffer`: the count accepted, or -1 as above.
  virtual std::int32_t WriteDataToTarget(std::span<const std::uint8_t> ABuffer) = 0;
  // The failure number behind a -1 from the two calls above.
  [[nodiscard]] virtual int LastSourceError();
  // Whether ReadDataFromSource itself waits, without a limit, until data arrives, so that
  // SourceReadable(TimeoutInfinite) before it adds nothing. The base answers false.
  [[nodiscard]] virtual bool ReadWaitsForData() const { return false; }

  void Notification(TComponent* AComponent, TOperation AOperation) override;

  // The encoding an argument means (ceNone: the default).
  [[nodiscard]] TIdCharEncoding Resolve(TIdCharEncoding AEncoding) const noexcept {
    return AEncoding == ceNone ? encoding_ : AEncoding;
  }

 private:
  // One read of at most `AMaxBytes` into InBuffer(). Returns the count appended (after the
  // intercept); VFromSource is what the source gave (0: the peer closed).
  std::int32_t ReceiveIntoBuffer(std::int32_t AMaxBytes, std::int32_t& VFromSource);
  // A read gave -1: 0 for a close, else raises.
  std::int32_t HandleFailedRead();
  std::int32_t FillInputBufferUpTo(bool ARaiseExceptionIfDisconnected, std::int32_t ATimeout,
                                   bool ARaiseOnTimeout, std::int32_t AMaxBytes);
  // Whether a zero-wait look at the source would only repeat the last one: it found nothing,
  // nothing was read or written since, and the millisecond tick is the same.
  [[nodiscard]] bool SourceJustFoundIdle() const;
  // Fills InBuffer() until it holds ACount bytes, asking for no more than are missing (up to
  // RecvBufferSize()), so a body read leaves what follows it in the socket; with `AReadAhead`,
  // each read asks for AMaxBytes.
  void FillAtLeast(std::int32_t ACount, std::int32_t AMaxBytes, bool AReadAhead = false);
  void ReadIntoStreamBody(TStream& AStream, std::int64_t ASize, bool AReadUntilDisconnect);
  void WriteSizePrefix(std::int64_t ASize);
  // The next byte of InputLn, waiting until the line's time limit (counted from `AStarted`)
  // passes; false on a timeout. `VEcho` is sent before waiting.
  bool NextInputByte(std::uint32_t AStarted, std::uint8_t& VByte, TIdByteArray& VEcho);
  void SendEcho(TIdByteArray& VEcho);
  void SendBlock(std::span<const std::uint8_t> ABlock);

  std::string host_;
  std::int32_t port_ = 0;
  std::string destination_;
  TIdConnectionIntercept* intercept_ = nullptr;
  std::int32_t maxLineLength_ = IdMaxLineLengthDefault;
  TIdMaxLineAction maxLineAction_ = maException;
  std::int32_t recvBufferSize_ = IdDefaultBufferSize;
  std::int32_t sendBufferSize_ = IdDefaultBufferSize;
  std::int32_t readTimeout_ = TimeoutUseDefault;
  std::int32_t connectTimeout_ = 0;
  std::int32_t maxCapturedLines_ = IdMaxCapturedLinesUnlimited;
  bool largeStream_ = false;
  TIdCharEncoding encoding_ = ceASCII;
  std::unique_ptr<TIdBuffer> inBuffer_;
  std::unique_ptr<TIdBuffer> writeBuffer_;
  // The block an intercept is handed on receive, reused across reads.
  TIdByteArray interceptBlock_;
  std::int32_t writeBufferThreshold_ = 0;
  bool isOpen_ = false;
  bool peerClosed_ = false;
  bool closedLocally_ = false;
  bool lineWasSplit_ = false;
  bool lineTimedOut_ = false;
  bool readAhead_ = false;
  // The last read from the source gave all it asked for: more is most likely waiting.
  bool lastReadFilled_ = false;
  // Reads and writes (and opens) so far, and where the last zero-wait look at the source that
  // found nothing stood: a request cycle asks whether its connection lives several times in a
  // row, and the answer cannot change while nothing was read or written, within one tick.
  std::uint64_t exchanges_ = 0;
  std::uint64_t idleProbeExchanges_ = 0;
  std::uint32_t idleProbeTick_ = 0;
  bool idleProbeValid_ = false;
  // InputLn's line in progress (kept across a timeout): its characters as UTF-8 text, the state
  // of a UTF-8 character being read, and the byte that would complete the last line's end.
  std::vector<std::string> inputChars_;
  TIdUTF8ByteDecoder inputDecoder_;
  std::uint8_t inputEndPartner_ = 0;
};

}  // namespace brixa
