// What an operation of the ASF component came to: success, or a failure with
// a 32-bit code. The codes are numbered as the WM writer interfaces number
// their failures, so the stand-in writer hands a Status on as its HRESULT
// unchanged and the muxer's lines print the code the host sees. The
// component gives the codes named here; a file sink gives the operating
// system's error in the same form.
#pragma once

#include <cstdint>

namespace kestrum::asf {

class [[nodiscard]] Status {
 public:
  constexpr Status() = default;
  static constexpr Status FromCode(uint32_t code) { return Status(code); }

  constexpr bool ok() const { return (code_ & 0x80000000u) == 0; }
  constexpr uint32_t code() const { return code_; }
  friend constexpr bool operator==(Status, Status) = default;

 private:
  constexpr explicit Status(uint32_t code) : code_(code) {}
  uint32_t code_ = 0;
};

constexpr bool Failed(Status s) { return !s.ok(); }
constexpr bool Succeeded(Status s) { return s.ok(); }

inline constexpr Status kOk{};
inline constexpr Status kNotSeekable = Status::FromCode(0x80004001u);  // a sink that only appends
inline constexpr Status kNoData = Status::FromCode(0x80004003u);       // a null pointer
inline constexpr Status kFailed = Status::FromCode(0x80004005u);
inline constexpr Status kOutOfMemory = Status::FromCode(0x8007000Eu);
inline constexpr Status kInvalidArgument = Status::FromCode(0x80070057u);
inline constexpr Status kFileNotFound = Status::FromCode(0x80070002u);
inline constexpr Status kPathNotFound = Status::FromCode(0x80070003u);  // no such folder
inline constexpr Status kAccessDenied = Status::FromCode(0x80070005u);
// The process (or the system) has no descriptor left to open the file with.
inline constexpr Status kTooManyOpenFiles = Status::FromCode(0x80070004u);
inline constexpr Status kWriteFault = Status::FromCode(0x8007001Du);
inline constexpr Status kReadFault = Status::FromCode(0x8007001Eu);
// The output is a pipe (or FIFO) whose reader has gone.
inline constexpr Status kBrokenPipe = Status::FromCode(0x8007006Du);
// Another writer (or a reader that forbids writing) holds the file.
inline constexpr Status kSharingViolation = Status::FromCode(0x80070020u);
inline constexpr Status kDiskFull = Status::FromCode(0x80070070u);
inline constexpr Status kFileNameTooLong = Status::FromCode(0x800700CEu);
// Before Begin, after End, or a second Begin.
inline constexpr Status kInvalidRequest = Status::FromCode(0xC00D002Bu);
inline constexpr Status kInvalidStream = Status::FromCode(0xC00D002Fu);  // no such stream
// A format the header cannot describe.
inline constexpr Status kInvalidInputFormat = Status::FromCode(0xC00D0BB8u);

}  // namespace kestrum::asf
