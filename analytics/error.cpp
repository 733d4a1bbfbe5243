#include "analytics/error.hpp"

#include <map>
#include <mutex>
#include <utility>

namespace Korvanth {

std::atomic<std::int32_t> currentLanguage{1};

namespace {

const std::string fallbackText = "NO MSG TEXT DEFINED; contact Korvanth Support";

struct Entry {
    std::int32_t code;
    const char* english;
    const char* german;
};

// Codes of the worksheet interface, of the core routines, of the low-default-portfolio
// estimation, and of the date and serialisation code that ships beside them.
constexpr Entry entries[] = {
    {20000, "The entry %s is no single cell or empty", "Der Eintrag %s ist keine einzelne Zelle oder leer"},
    {20001, "The cell %s contains a non-numerical entry", "Die Zelle %s enthaelt einen nicht-numerischen Inhalt"},
    {20002, "The cell %s is empty", "Die Zelle %s ist leer"},
    {20003, "The cell %s contains a non-string entry", "Die Zelle %s enthaelt einen nicht-string Inhalt"},
    {20004, "The vector %s is no column vector or empty", "Der Vektor %s ist kein Spaltenvektor oder leer"},
    {20005, "The vector %s is no row vector or empty", "Der Vektor %s ist kein Zeilenvektor oder leer"},
    {20006, "The vector %s contains a non-numerical entry", "Der Vektor %s enthaelt einen nicht-numerischen Eintrag"},
    {20007, "The vector %s does not contain a single numerical entry",
     "Der Vektor %s enhaelt keinen einzigen numerischen Wert"},
    {20008, "The vector %s contains a non-string entry", "Der Vektor %s enthaelt einen nicht-string Eintrag"},
    {20009, "The vector %s does not contain a single string entry", "Der Vektor %s enhaelt keinen einzigen string Wert"},
    {20010, "The matrix %s contains a non-numerical entry", "Die Matrix %s enthaelt einen nicht-numerischen Eintrag"},
    {20011, "The matrix %s is not rectangular (are there irregular empty cells?)",
     "Die Matrix %s ist nicht rechtwinklig (gibt es unregelmaessig leere Zellen?)"},
    {20012, "The matrix %s does not contain numerical entries or is empty",
     "Die Matrix %s enthaelt keine numerischen Werte oder ist leer"},
    {20020, "The cell %s contains a non-boolean entry", "Die Zelle %s enthaelt einen nicht-boolschen Inhalt"},
    {20021, "The matrix %s does not contain exactly two columns or is empty",
     "Die Matrix %s hat nicht genau zwei Spalte oder ist leer"},
    {20022, "The matrix %s is empty", "Die Matrix %s ist leer"},
    {20023, "The matrix %s contains a non-numeric or empty entry",
     "Die Matrix %s enthaelt einen nicht-numerischen oder leeren Eintrag"},
    {32, "Date is outside the admissible range", "Datumszahl ausserhalb des zulaessigen Bereichs"},
    {33, "Year must be in the intervall [1900,2099]", "Jahr muss im Intervall [1900,2099] liegen"},
    {34, "Month must be in the intervall [0,12]", "Monat muss im intervall [0,12] liegen"},
    {35, "Day is outside the admissible days of the month", "Tag ist ausserhalb der Tage des Monats"},
    {36, "No admissible date used when adding months", "Unzulaessiges Datum beim Addieren von Monaten"},
    {37, "No admissible date used when adding years", "Unzulaessiges Datum beim Addieren von Jahren"},
    {70, "Identifier miss match when serializing a  %s objekt", "Identifier-Missmatch beim Serialiseren eines %s Objekts"},
    {77, "The parameter of the cumulative gamma distribution must be positive",
     "Der Parameter der kumulierten Gammaverteilung muss positiv sein"},
    {78, "Number of iterations to compute the cumulative gamma distribution is too low",
     "Anzahl Iterationen zur Berechnung der kumulativen Gammaverteilung ist zu niedrig"},
    {79, "The argument of the inverse cumulative gamma distribution must be in the interval (0,1)",
     "Das Argument der inversen kumulierten Gammaverteilung muss in (0,1) liegen"},
    {80, "An error occured in the calculation of the inverse cumulative gamma distribution",
     "Bei der Berechung der inversen kumulierten Gammaverteilung ist ein Fehler aufgetreten"},
    {81, "The argument is not in the interval [-1,1] when evaluating Chebychev polynomials",
     "Das Argument ist nicht im Intervall [-1,1] bei der Berechnung des Chebychev-Polynoms"},
    {82, "The argument of the logarithmic gamma function is not positive",
     "Argument der logarithmischen Gammafunktion ist nicht positiv"},
    {83, "The lower integration limit is above the upper integration limit in a Gauss integration",
     "Bei der Gauss-Integration ist die obere Integrationsgrenze unterhalb der unteren Integrationsgrenze"},
    {84, "The step size in a Gauss integration is not positive", "Die Schrittweite bei der Gauss-Integration ist nicht positiv"},
    {89, "Singular matrix in a Gauss elimination", "Singulaere Matrix bei der Durchfuehrung einer Gauss-Elimination"},
    {192, "The Pluto-Tasche method failed finding a solution. Please check your input data",
     "Die Pluto-Tasche Methode hat keine Loesung gefunden. Bitte ueberpruefen Sie Ihre Input-Daten"},
    {193, "The asset correlation provided in the low-default portfolio PD estimation is not in [0, 1)",
     "Die Assetkorrelation, die in der Schaetzung der PDs von Low-Default Portfolios benutzt wird, ist nicht in [0, 1)"},
    {194, "The quantile provided in the low-default portfolio PD estimation is not in (0, 1)",
     "Das Quantil, das in der Schaetzung der PDs von Low-Default Portfolios benutzt wird, ist nicht in (0, 1)"},
    {196, "At least one entry in the number of defaults is negative", "Mindestens ein Eintrag der Anzahl Defaults ist negativ"},
    {197, "At least one entry in the number of survivals is not positive",
     "Mindestens ein Eintrag der Anzahl Survivals ist nicht positiv"},
};

using MessageCatalogue = std::map<std::pair<std::int32_t, std::int32_t>, std::string>;

// Built once, on first use; a function-local static is initialised exactly once even when
// the first lookups come from several threads at the same time.
const MessageCatalogue& catalogue() {
    static const MessageCatalogue messages = [] {
        MessageCatalogue built;
        for (const Entry& entry : entries) {
            built.emplace(std::make_pair(0, entry.code), entry.german);
            built.emplace(std::make_pair(1, entry.code), entry.english);
        }
        return built;
    }();
    return messages;
}

}  // namespace

std::string getMessageText(std::int32_t code) {
    const MessageCatalogue& messages = catalogue();
    const auto found = messages.find({currentLanguage.load(), code});
    if (found != messages.end()) return found->second;
    return fallbackText + ". Please inform the error number " + std::to_string(code) + ".";
}

KorvanthException::KorvanthException(std::int32_t code) : message_(getMessageText(code)), code_(code) {}

KorvanthException& KorvanthException::addArgument(std::string text) {
    if (substitutionStopped_) return *this;
    const auto at = message_.find("%s");
    if (at == std::string::npos) {
        substitutionStopped_ = true;
        return *this;
    }
    message_.replace(at, 2, text);
    return *this;
}

}  // namespace Korvanth
