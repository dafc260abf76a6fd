// Every visible text of the program, English and Russian, looked up by id. A Russian
// text has the id of its English counterpart plus 1000; an id without a text in the
// chosen language gives the empty text.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

inline constexpr int kRussianIdOffset = 1000;

// The tables' texts that the code names, by English id.
enum class TextId : int {
    yes = 10007,
    no = 10008,
    firstColumn = 10020,  // the device table's first column title; the others follow
    removeQuestion = 10101,
    notResponding = 10102,
    passportFileFilter = 10103,
    fileSaveFailed = 10104,
    searchFailed = 10105,
    addressInList = 10106,
    invalidAddress = 10107,
    addWizardTitle = 10112,
    ipOutputTitle = 10113,
    noAdapter = 10115,
    sendFailed = 10201,
};

// Texts this program shows beyond those tables, with ids outside their ranges.
enum class ExtraText : int {
    checkAllProgress = 10401,  // "Checking device %d of %d..."
    cancel = 10402,
    fileWriteFailed = 10403,  // names the file and the reason
    watch = 10404,            // the main window's Watch check box
    lastAnswer = 10405,       // a row's tooltip while watching: the time of day
    noAnswerYet = 10406,
    addressAlsoUsed = 10407,  // names the other modules' MACs
    notifySilent = 10408,     // position, MAC and address of the module
    notifyOutputStopped = 10409,
    notifyAnswersAgain = 10410,
    // The IP output dialog's line on the stream arriving at this computer.
    streamArriving = 10411,  // the bitrate, the net bitrate and the errors
    streamMegabits = 10412,
    streamNoErrors = 10413,
    streamContinuityErrors = 10414,  // the count, two or more
    streamOneContinuityError = 10415,
    streamErrors = 10416,  // the count, two or more
    streamOneError = 10417,
    streamOnlyStuffing = 10418,
    streamNothingArrives = 10419,
    pleaseEnterInteger = 61712,  // the toolkit's own message, English in both languages
};

// The process-wide language choice: false shows English, true Russian.
bool useRussian();
void setUseRussian(bool russian);

// The text of an English id in the current language.
std::string loadText(int id);
inline std::string loadText(TextId id) {
    return loadText(static_cast<int>(id));
}
inline std::string loadText(ExtraText id) {
    return loadText(static_cast<int>(id));
}

// The raw table entry of an id (English ids below 2000 or 11000, Russian ones above).
std::string_view tableText(int id);

}  // namespace corvane
