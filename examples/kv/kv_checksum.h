// The CRC-32 (the polynomial of zip and PNG) of the log's record bodies: a record whose bytes
// were cut short or changed no longer matches the checksum written in front of it.

#ifndef WYGL_KV_CHECKSUM_H
#define WYGL_KV_CHECKSUM_H

#include <cstddef>
#include <cstdint>

// The CRC-32 of length bytes at data; crc32("123456789") is 0xCBF43926.
std::uint32_t kv_crc32(char const* data, std::size_t length) noexcept;

#endif  // WYGL_KV_CHECKSUM_H
