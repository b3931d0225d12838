#include "sdk/utilities/VDUGzip.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "sdk/utilities/AssertionHandler.h"

namespace {

constexpr std::size_t kChunkSize = 1024;
constexpr int kGzipWindowBits = 31;           // 15-bit window plus the gzip wrapper
constexpr int kDetectWrapperWindowBits = 47;  // 15-bit window, gzip or zlib wrapper detected
constexpr int kMemoryLevel = 8;
// The output capacity guess for expansion is four times the input; the guess is capped so a
// large input cannot make the first allocation fail. The buffer still grows as needed.
constexpr std::size_t kMaxInitialInflateCapacity = 64u << 20;

bool fitsZlibLength(std::size_t size) {
    return size <= std::numeric_limits<uInt>::max();
}

void setError(sdk::Error* error, sdk::Error value) {
    if (error != nullptr) {
        *error = std::move(value);
    }
}

sdk::Error tooLargeError() {
    return sdk::Error(std::string(kVDUNSDataZlibErrorDomain),
                      VDUNSDataZlibErrorGreaterThan32BitsToCompress);
}

sdk::Error zlibError(int status, const char* message) {
    return sdk::Error(std::string(kVDUNSDataZlibErrorDomain), VDUNSDataZlibErrorInternal,
                      message != nullptr ? std::string(message) : std::string(),
                      {{std::string(kVDUNSDataZlibErrorKey), sdk::Value(status)}});
}

sdk::Error remainingBytesError(uInt remaining) {
    return sdk::Error(std::string(kVDUNSDataZlibErrorDomain), VDUNSDataZlibErrorDataRemaining, {},
                      {{std::string(kVDUNSDataZlibRemainingBytesKey), sdk::Value(remaining)}});
}

// Points `stream` at the whole of `data`; zlib never writes through next_in.
void setInput(z_stream& stream, const sdk::Bytes& data) {
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
}

}  // namespace

std::optional<sdk::Bytes> vdu_dataByGzippingData(const sdk::Bytes& data, sdk::Error* error) {
    if (data.empty()) {
        return std::nullopt;
    }
    if (!fitsZlibLength(data.size())) {
        setError(error, tooLargeError());
        return std::nullopt;
    }
    z_stream stream{};
    int status = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits,
                              kMemoryLevel, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) {
        setError(error, zlibError(status, nullptr));
        return std::nullopt;
    }
    setInput(stream, data);
    sdk::Bytes output;
    output.reserve(data.size() / 4);
    Bytef chunk[kChunkSize];
    do {
        stream.next_out = chunk;
        stream.avail_out = kChunkSize;
        status = deflate(&stream, Z_FINISH);
        if (status != Z_OK && status != Z_STREAM_END) {
            deflateEnd(&stream);
            setError(error, zlibError(status, nullptr));
            return std::nullopt;
        }
        output.insert(output.end(), chunk, chunk + (kChunkSize - stream.avail_out));
    } while (status != Z_STREAM_END);
    if (stream.avail_in != 0) {
        deflateEnd(&stream);
        sdk::handleAssertionFailure("VDUNSData+zlib",
                                    "Should have finished deflating without using all input, " +
                                        std::to_string(stream.avail_in) + " bytes left");
        return output;
    }
    deflateEnd(&stream);
    return output;
}

std::optional<sdk::Bytes> vdu_dataByInflatingGzippedData(const sdk::Bytes& data, sdk::Error* error,
                                                         std::size_t maxOutput) {
    if (data.empty() || !fitsZlibLength(data.size())) {
        return std::nullopt;
    }
    z_stream stream{};
    int status = inflateInit2(&stream, kDetectWrapperWindowBits);
    if (status != Z_OK) {
        setError(error, zlibError(status, stream.msg));
        return std::nullopt;
    }
    setInput(stream, data);
    sdk::Bytes output;
    output.reserve(std::min({data.size() * 4, kMaxInitialInflateCapacity, maxOutput}));
    Bytef chunk[kChunkSize];
    do {
        stream.next_out = chunk;
        stream.avail_out = kChunkSize;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            sdk::Error failure = zlibError(status, stream.msg);
            inflateEnd(&stream);
            setError(error, std::move(failure));
            return std::nullopt;
        }
        const std::size_t produced = kChunkSize - stream.avail_out;
        if (produced > maxOutput - output.size()) {
            inflateEnd(&stream);
            setError(
                error,
                zlibError(
                    Z_BUF_ERROR,
                    ("inflated data larger than " + std::to_string(maxOutput) + " bytes").c_str()));
            return std::nullopt;
        }
        output.insert(output.end(), chunk, chunk + produced);
    } while (status != Z_STREAM_END);
    const uInt remaining = stream.avail_in;
    inflateEnd(&stream);
    if (remaining != 0) {
        setError(error, remainingBytesError(remaining));
        return std::nullopt;
    }
    return output;
}
