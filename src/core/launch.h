// Starting the installed suite on the launcher's own place.
#pragma once

// Opens the suite executable through the shell with "--place " and the own place id, in the
// install folder, and returns at once; whether the suite starts is not examined.
void LaunchPlace();
