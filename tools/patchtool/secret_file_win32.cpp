#include "runtime/win32/win.h"
#include <aclapi.h>

#include <vector>

#include "runtime/encoding.h"
#include "tools/patchtool/secret_file.h"

namespace patchtool {
namespace {

// The SID of the user this process runs as, in `buffer`; null when it cannot
// be read.
PSID CurrentUserSid(std::vector<BYTE>* buffer) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD needed = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
  buffer->assign(needed, 0);
  const bool ok = needed > 0 && GetTokenInformation(token, TokenUser, buffer->data(), needed, &needed);
  CloseHandle(token);
  return ok ? reinterpret_cast<TOKEN_USER*>(buffer->data())->User.Sid : nullptr;
}

}  // namespace

SecretFileResult WriteNewSecretFile(const rt::Text& path, const rt::Text& content) {
  const std::u16string wide = rt::GbkToUtf16(path);
  const LPCWSTR name = reinterpret_cast<LPCWSTR>(wide.c_str());
  // An access list with one entry, the current user's, protected from what
  // the folder would pass down.
  std::vector<BYTE> user_buffer;
  const PSID user = CurrentUserSid(&user_buffer);
  if (user == nullptr) return SecretFileResult::kFailed;
  std::vector<BYTE> acl_buffer(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user));
  PACL acl = reinterpret_cast<PACL>(acl_buffer.data());
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeAcl(acl, static_cast<DWORD>(acl_buffer.size()), ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) ||
      !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return SecretFileResult::kFailed;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
  // CREATE_NEW: never overwrite.
  HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? SecretFileResult::kExists
                                                                        : SecretFileResult::kFailed;
  }
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  const bool ok = CloseHandle(file) && wrote && written == content.size();
  if (!ok) DeleteFileW(name);
  return ok ? SecretFileResult::kWritten : SecretFileResult::kFailed;
}

bool IsReadableByOthers(const rt::Text& path) {
  const std::u16string wide = rt::GbkToUtf16(path);
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(reinterpret_cast<LPCWSTR>(wide.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<BYTE> user_buffer;
  const PSID user = CurrentUserSid(&user_buffer);
  bool others = acl == nullptr;  // no access list: everyone may do everything
  constexpr ACCESS_MASK kRead = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
  for (DWORD i = 0; !others && acl != nullptr && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) continue;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kRead) == 0) continue;
    const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((user != nullptr && EqualSid(sid, user)) || IsWellKnownSid(sid, WinLocalSystemSid) ||
        IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinCreatorOwnerSid)) {
      continue;
    }
    others = true;
  }
  LocalFree(descriptor);
  return others;
}

}  // namespace patchtool
