#include "net/chunked_decoder.h"
#include "runtime/text.h"

#include <limits>

namespace net {
namespace {

constexpr int64_t kMaxChunkSize = std::numeric_limits<int64_t>::max();

}  // namespace

size_t ChunkedDecoder::Feed(const std::uint8_t* data, size_t size, rt::Bytes& out) {
  size_t i = 0;
  while (i < size && state_ != State::kEnded && state_ != State::kTrailerRefused && state_ != State::kFailed) {
    const std::uint8_t c = data[i];
    switch (state_) {
      case State::kSize: {
        if (++line_bytes_ > kMaxChunkLineBytes) {
          state_ = State::kFailed;
          break;
        }
        const int digit = rt::HexDigitValue(static_cast<char>(c));
        if (digit >= 0) {
          // Checked before the step, so the size never overflows.
          if (remaining_ > (kMaxChunkSize - digit) / 16) {
            state_ = State::kFailed;
            break;
          }
          remaining_ = remaining_ * 16 + digit;
          ++size_digits_;
        } else if (size_digits_ == 0) {
          state_ = State::kFailed;
        } else if (c == '\r') {
          state_ = State::kSizeEnd;
        } else if (c == ';' || c == ' ' || c == '\t') {
          state_ = State::kExtension;
        } else {
          state_ = State::kFailed;
        }
        ++i;
        break;
      }
      case State::kExtension:
        if (++line_bytes_ > kMaxChunkLineBytes) {
          state_ = State::kFailed;
          break;
        }
        if (c == '\r') state_ = State::kSizeEnd;
        ++i;
        break;
      case State::kSizeEnd:
        if (c != '\n') {
          state_ = State::kFailed;
          break;
        }
        ++i;
        line_bytes_ = 0;
        size_digits_ = 0;
        state_ = remaining_ == 0 ? State::kTrailer : State::kData;
        break;
      case State::kData: {
        const size_t available = size - i;
        const size_t take =
            static_cast<uint64_t>(available) < static_cast<uint64_t>(remaining_) ? available
                                                                                  : static_cast<size_t>(remaining_);
        out.insert(out.end(), data + i, data + i + take);
        i += take;
        remaining_ -= static_cast<int64_t>(take);
        if (remaining_ == 0) state_ = State::kDataCr;
        break;
      }
      case State::kDataCr:
        if (c != '\r') {
          state_ = State::kFailed;
          break;
        }
        ++i;
        state_ = State::kDataLf;
        break;
      case State::kDataLf:
        if (c != '\n') {
          state_ = State::kFailed;
          break;
        }
        ++i;
        state_ = State::kSize;
        break;
      case State::kTrailer:
        // Trailer fields are not needed: each line is only counted.
        if (++trailer_bytes_ > kMaxTrailerBytes) {
          state_ = State::kTrailerRefused;
          break;
        }
        if (c == '\r') {
          state_ = State::kTrailerLf;
        } else if (++line_bytes_ > kMaxChunkLineBytes) {
          state_ = State::kTrailerRefused;
          break;
        }
        ++i;
        break;
      case State::kTrailerLf:
        if (c != '\n') {
          state_ = State::kTrailerRefused;
          break;
        }
        ++i;
        state_ = line_bytes_ == 0 ? State::kEnded : State::kTrailer;
        line_bytes_ = 0;
        break;
      case State::kEnded:
      case State::kTrailerRefused:
      case State::kFailed:
        break;
    }
  }
  return i;
}

}  // namespace net
