#pragma once

// Points HOME, XDG_CONFIG_HOME and the user's folders into a fresh temporary folder before the
// application object exists, so no test ever touches the real configuration or music folder.
// Returns the temporary home; it is removed when the process ends.
const char* PrepareTestHome();
