// Folder permissions for the failing-save tests: a folder can be made to refuse
// new files as Windows does it, with an access list, which Wine keeps as the
// folder's Unix permissions.
#pragma once

#include <windows.h>

#include <aclapi.h>

#include <string>

// Gives everyone the access rights in `rights` to the folder, and no more. Wine
// keeps this as the folder's Unix permissions.
inline bool SetFolderAccess(const std::string& folder, DWORD rights) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        return false;
    }
    alignas(DWORD) char aclBytes[256];
    auto* acl = reinterpret_cast<ACL*>(aclBytes);
    SECURITY_DESCRIPTOR sd;
    const bool done = InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
                      AddAccessAllowedAce(acl, ACL_REVISION, rights, everyone) &&
                      InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
                      SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) &&
                      SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, &sd);
    FreeSid(everyone);
    return done;
}

// Whether a file can be made in the folder now.
inline bool CanCreateIn(const std::string& folder) {
    const std::string probe = folder + "\\probe.tmp";
    const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    DeleteFileA(probe.c_str());
    return true;
}
