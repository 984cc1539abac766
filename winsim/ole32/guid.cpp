// ole32: GUIDs, random ones as UuidCreate makes them, and their text form.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <random>

#include <objbase.h>

namespace {

std::mutex g_randomMutex;

std::mt19937_64& Random() {
  static std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return engine;
}

}  // namespace

HRESULT WINAPI CoCreateGuid(GUID* guid) {
  if (!guid) return static_cast<HRESULT>(0x80070057L);  // E_INVALIDARG
  uint64_t high, low;
  {
    std::lock_guard<std::mutex> lock(g_randomMutex);
    high = Random()();
    low = Random()();
  }
  // A random (version 4, RFC 4122 variant) GUID, as UuidCreate makes.
  guid->Data1 = static_cast<uint32_t>(high >> 32);
  guid->Data2 = static_cast<uint16_t>(high >> 16);
  guid->Data3 = static_cast<uint16_t>((high & 0x0FFF) | 0x4000);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<uint8_t>(low >> (8 * i));
  guid->Data4[0] = static_cast<uint8_t>((guid->Data4[0] & 0x3F) | 0x80);
  return S_OK;
}

int WINAPI StringFromGUID2(const GUID& guid, LPWSTR buffer, int size) {
  constexpr int kChars = 39;  // 38 characters and the terminator
  if (!buffer || size < kChars) return 0;
  char text[kChars + 1];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  for (int i = 0; i < kChars; ++i) buffer[i] = static_cast<WCHAR>(text[i]);
  return kChars;
}
