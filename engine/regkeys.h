// Keys of the system's list of installed programs, as paths below HKEY_LOCAL_MACHINE (each has
// a twin of the same path below HKEY_CURRENT_USER). Without a trailing backslash: a product's
// own entry is the key path, a backslash and its name.
#pragma once

constexpr char ENGINE_UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char ENGINE_APP_PATHS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
