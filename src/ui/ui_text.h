// The program's table texts in the chosen language, as the widgets take them.
#pragma once

#include <QString>

#include "app/string_tables.h"

namespace corvane {

// `id` is a table text's number, a TextId or an ExtraText.
template <typename Id>
QString uiText(Id id) {
    return QString::fromStdString(loadText(id));
}

}  // namespace corvane
