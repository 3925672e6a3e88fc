// The one place that prepares libgcrypt for use. Every caller of a gcry_*
// function calls EnsureCryptoLibrary() first; the work is done once per
// process, whichever thread gets there first.
#pragma once

void EnsureCryptoLibrary();
