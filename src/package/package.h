// Getting the suite package into the temporary package file: from the launcher's own file, or
// by download. Each returns the temporary package file's path, or the empty string on failure.
#pragma once

#include <string>

// The path of the temporary package file when the launcher file carries a package behind a valid
// trailer and all of it was copied there; otherwise empty (the caller then takes the ordinary
// course). A failed copy leaves the part copied behind.
std::wstring ExtractEmbeddedPackage();

// Fetches the package over HTTPS from the download host into the temporary package file, showing
// the progress on the status label. Empty on any failure, a body that breaks off included; the
// temporary package file is never deleted here.
std::wstring DownloadPackage();
