// The wizard's per-user settings: the last source, destination, log file,
// delimiter, header and definitions-only choices, read when the wizard
// starts and written when it ends (QSettings "Quorvane" / "Talvex", an INI
// file under the user's configuration folder).
#pragma once

class talvex_convertor;

// store false reads the settings into the converter, true writes them.
// Returns false when the settings could not be read or written.
bool tvx_serialize(talvex_convertor& converter, bool store);
