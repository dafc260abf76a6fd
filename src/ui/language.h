// The language of the user interface: the string tables' choice plus Qt's own texts
// (standard buttons such as Yes/No and the wizard's Next/Back) in the same language.
#pragma once

namespace corvane {

// The default when the settings file has no choice: Russian for a Russian locale.
bool systemPrefersRussian();

// Sets the string tables' language and loads or unloads Qt's Russian translation.
void applyLanguage(bool russian);

}  // namespace corvane
