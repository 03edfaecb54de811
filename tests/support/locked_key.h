// A registry key that nobody may delete, for tests of what a removal does when it meets one.
// Wine grants the owner of an object every standard right (deletion included) whatever its
// DACL says, so a DACL alone denies nothing to the test's own token: the key is handed to
// another owner (SYSTEM) and keeps a DACL that lets everyone read it and change its DACL, so
// that the test can give the rights back and clean up. Subkeys keep their own rights and can
// still be removed.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <string>

namespace testreg {

class LockedKey {
public:
    LockedKey(HKEY root, const std::string &path) : root_(root), path_(path) {}
    ~LockedKey() { Unlock(); }
    LockedKey(const LockedKey &) = delete;
    LockedKey &operator=(const LockedKey &) = delete;

    // The key must exist. True when its new rights are in place.
    bool Lock()
    {
        HKEY key;
        if (RegOpenKeyExA(root_, path_.c_str(), 0, WRITE_DAC | WRITE_OWNER, &key) != ERROR_SUCCESS)
            return false;
        bool ok = Apply(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        "O:SYD:P(A;;KRWD;;;WD)");
        RegCloseKey(key);
        locked_ = ok;
        return ok;
    }

    // Everyone gets every right again (the key may then be deleted); nothing when not locked.
    void Unlock()
    {
        if (!locked_)
            return;
        HKEY key;
        if (RegOpenKeyExA(root_, path_.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
            Apply(key, DACL_SECURITY_INFORMATION, "D:(A;;KA;;;WD)");
            RegCloseKey(key);
        }
        locked_ = false;
    }

    // Whether the lock really denies deletion here (checked before a test relies on it).
    bool DeniesDelete() const
    {
        HKEY key;
        LONG rc = RegOpenKeyExA(root_, path_.c_str(), 0, DELETE, &key);
        if (rc == ERROR_SUCCESS)
            RegCloseKey(key);
        return rc == ERROR_ACCESS_DENIED;
    }

private:
    static bool Apply(HKEY key, SECURITY_INFORMATION what, const char *sddl)
    {
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd,
                                                                  nullptr))
            return false;
        bool ok = RegSetKeySecurity(key, what, sd) == ERROR_SUCCESS;
        LocalFree(sd);
        return ok;
    }

    HKEY root_;
    std::string path_;
    bool locked_ = false;
};

}  // namespace testreg
