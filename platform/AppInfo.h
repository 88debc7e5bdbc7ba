// What the program knows about itself: its folder, title and version, and
// the default path of the host database that the window starts with.
#pragma once

#include <string>

namespace Platform::AppInfo {

// "AddTarnVel": the title of every message box that gives none of its own.
const std::string& Title();
// A box's title as shown: `title`, or Title() when it is empty.
std::string BoxTitle(const std::string& title);

// The version from the build: "major.minor.revision", e.g. "1.0.3".
std::string VersionText();

// The folder that holds the running program file, without a trailing
// separator. Read from the operating system on first use unless
// SetProgramFolder has set it (the unattended runner and tests do).
const std::string& ProgramFolder();
void SetProgramFolder(const std::string& folder);
// The path of the file `name` in the program folder.
std::string InProgramFolder(const std::string& name);

// The platform's path separator: '/' here, '\\' on Windows.
char PathSeparator();

// The path the window's path box starts with: "/opt/Mailvoro/Mailvoro.mdb"
// (or "C:\Mailvoro\Mailvoro.mdb" on Windows) unless tests set another.
const std::string& DefaultHostDbPath();
void SetDefaultHostDbPath(const std::string& path);

}  // namespace Platform::AppInfo
