#pragma once

#include <string>
#include <string_view>

#include "sdk/utilities/Error.h"

// Where the measurement engine keeps its files: <Application Support>/Vovidu/Measurement, the
// Application Support folder being platform::applicationSupportFolder() (the XDG data home,
// read on each call). The preferences folder is platform::PreferencesStore::defaultFolder().

// The folder below Application Support that holds every measurement file.
inline constexpr std::string_view kAPMMeasurementFolder = "Vovidu/Measurement";

// "<preferences folder>/<name>.plist"; empty for an empty name.
std::string APMPreferencesPlistPath(std::string_view name);

// "<Application Support>/Vovidu/Measurement/<name>"; empty for an empty name.
std::string APMMeasurementFilePath(std::string_view name);

// As APMMeasurementFilePath, with ".plist" appended unless the name already ends in ".plist".
std::string APMMeasurementPlistPath(std::string_view name);

// Removes the file (or empty folder) at `path`; a missing file counts as removed. An empty path
// fails with code 1 "Received empty path for deleting file"; a failed removal with the POSIX
// error. Returns false with `error` set (when not null) on failure.
bool APMRemoveFile(const std::string& path, sdk::Error* error);

// Moves the preferences-folder plist of suite `name` to APMMeasurementPlistPath(name). False
// for an empty name or when the old or new path is a folder or the move fails. A missing old
// file is success; when the new file exists already, the old one is deleted. The old file was
// the whole suite, so nothing else is left to remove.
bool APMMigratePlistToApplicationSupport(std::string_view name);
