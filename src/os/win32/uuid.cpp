#include "os/uuid.h"

#include <cstring>

#include "os/win32/windows_api.h"

#include <rpc.h>

namespace wygl::os {

std::uint32_t new_uuid_text(uuid_text& out) noexcept {
  UUID uuid;
  RPC_STATUS status = UuidCreate(&uuid);
  if (status != RPC_S_OK) return static_cast<std::uint32_t>(status);
  RPC_CSTR text = nullptr;
  status = UuidToStringA(&uuid, &text);
  if (status != RPC_S_OK) return static_cast<std::uint32_t>(status);
  std::strncpy(out.text, reinterpret_cast<char const*>(text), uuid_text_length);
  out.text[uuid_text_length] = '\0';
  RpcStringFreeA(&text);
  return 0;
}

}  // namespace wygl::os
