#pragma once

#include <optional>
#include <string>

// Reversible scrambling of payloads held in byte strings: a repeating-key XOR
// followed by a reversal of the byte order.
namespace tarvek::encryption {

// Exchanges two bytes.
void char_swap(char* a, char* b);

// In place: buf[i] ^= key[i % keyLen], then the len bytes in reverse order.
// Does nothing when len or keyLen is not positive or a pointer is null.
void encrypt(char* buf, int len, const char* key, int keyLen);

// Inverse of encrypt: reverses the len bytes, then buf[i] ^= key[i % keyLen].
void decrypt(char* buf, int len, const char* key, int keyLen);

// Allocates len + 43 bytes with malloc (the caller frees them): a 32-byte
// fingerprint of the payload, the magic "Tarvek", len as a big-endian 32-bit
// number, the payload and a zero byte. Stores the block in *out and returns
// len + 43; returns -1 with *out null when len is negative or too large.
int addEncryptHeader(const char* src, char** out, int len);

// Scrambling with the caller's key; data comes back unchanged when data or key
// is empty.
std::string encrypt_image(const std::string& data, const std::string& key);
std::string decrypt_image(const std::string& data, const std::string& key);
std::string encrypt_text(const std::string& data, const std::string& key);
std::string decrypt_text(const std::string& data, const std::string& key);

// Wraps data in the header and scrambles all of it with the built-in key.
// Returns "" for a payload whose length does not fit in 32 bits.
std::string encrypt_image_internal_key(const std::string& data);

// The payload of a text made by encrypt_image_internal_key, or "" when the text
// is too short, its magic or fingerprint does not match or its length field
// points beyond its end.
std::string decrypt_image_internal_key(const std::string& data);

// The same payload, or nothing for a text that encrypt_image_internal_key did
// not make: unlike "", nothing tells a refused text from an empty payload.
std::optional<std::string> internalKeyPayload(const std::string& data);

}  // namespace tarvek::encryption
