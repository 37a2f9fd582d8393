// SPDX-License-Identifier: GPL-3.0-or-later
#include "fieldtext.h"

#include "dbtext.h"
#include "fieldmath.h"
#include "inttext.h"

#include <algorithm>

namespace evm {

namespace {

constexpr const char *kDacMasterSlave[] = {"Slave", "Master (768fs)", "Master (512fs)", "Master (384fs)",
                                           "Master (256fs)", "Master (192fs)", "Master (128fs)"};
constexpr const char *kAdcMasterSlave[] = {"Slave", "Master (768fs)", "Master (512fs)", "Master (384fs)", "Master (256fs)"};
constexpr const char *kDacFormat[] = {"24bit IIS", "24bit Left Justified", "24bit Right Justified", "16bit Right Justified",
                                      "24bit IIS DSP", "24bit Left Justified DSP", "24bit IIS TDM", "24bit Left Justified TDM",
                                      "24bit High speed IIS TDM", "24bit High speed Left Justified TDM"};
// The ADC formats are the first eight of the DAC's.
constexpr std::span<const char *const> kAdcFormat(kDacFormat, 8);
constexpr const char *kDacSampling[] = {"Auto", "Single Rate", "Dual Rate", "Quad Rate"};
constexpr std::span<const char *const> kAdcSampling(kDacSampling, 3);
constexpr const char *kZeroFunction[] = {"Detect DAC1-8 with AND logic", "Detect DAC1-8 with OR logic",
                                         "Detect DAC1-6 with AND logic", "Detect DAC1-6 with OR logic",
                                         "Detect DAC7-8 with AND logic", "Detect DAC7-8 with OR logic"};
constexpr const char *kZeroPole[] = {"High for Zero detect", "Low for Zero detect"};
constexpr const char *kOverflowPole[] = {"High for overflow detect", "Low for overflow detect"};
constexpr const char *kDeEmphasis[] = {"Disable", "48kHz", "44.1kHz", "32kHz"};
constexpr const char *kRollOff[] = {"Sharp Roll-off", "Slow Roll-off"};
constexpr const char *kPowerSave[] = {"Enable", "Disable"};
constexpr const char *kAttenuationMode[] = {"Independent control", "Offset + Master"};
constexpr const char *kAttenuationSpeed[] = {"N*2048/fs", "N*4096/fs"};

struct ItemRow {
    const char *field;
    std::span<const char *const> items;
};
constexpr ItemRow kItemRows[] = {
    {"MSDA", kDacMasterSlave}, {"FMTDA", kDacFormat}, {"MSAD", kAdcMasterSlave}, {"FMTAD", kAdcFormat},
    {"SRDA", kDacSampling}, {"SRAD", kAdcSampling}, {"AZRO", kZeroFunction}, {"ZREV", kZeroPole},
    {"OVFP", kOverflowPole}, {"DEMP", kDeEmphasis}, {"FLT0", kRollOff}, {"FLT1", kRollOff},
    {"FLT2", kRollOff}, {"FLT3", kRollOff}, {"PSMDA", kPowerSave}, {"ATMDDA", kAttenuationMode},
    {"ATSPDA", kAttenuationSpeed}, {"ATMDAD", kAttenuationMode}, {"ATSPAD", kAttenuationSpeed},
};

constexpr int kDacZeroDb = 255;
constexpr int kAdcZeroDb = 215;

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// A..Z folded and blanks dropped, so that "single rate" and "SingleRate" name "Single Rate".
std::string folded(std::string_view text)
{
    std::string out;
    for (const char c : text)
        if (c != ' ' && c != '\t')
            out += lower(c);
    return out;
}

bool endsWithUnit(std::string_view text)
{
    return text.size() >= 2 && lower(text[text.size() - 2]) == 'd' && lower(text.back()) == 'b';
}

std::string quotedList(std::span<const char *const> items)
{
    std::string list;
    for (const char *item : items)
        list += (list.empty() ? "\"" : ", \"") + std::string(item) + '"';
    return list;
}

// Optimal string alignment distance, A..Z folded: a swap of two neighbours counts once.
int editDistance(std::string_view a, std::string_view b)
{
    const size_t n = a.size();
    const size_t m = b.size();
    std::vector<std::vector<int>> d(n + 1, std::vector<int>(m + 1));
    for (size_t i = 0; i <= n; ++i)
        d[i][0] = int(i);
    for (size_t j = 0; j <= m; ++j)
        d[0][j] = int(j);
    for (size_t i = 1; i <= n; ++i)
        for (size_t j = 1; j <= m; ++j) {
            const int cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[n][m];
}

} // namespace

std::span<const char *const> fieldItems(const RegisterField &field)
{
    for (const ItemRow &row : kItemRows)
        if (std::string_view(row.field) == field.name)
            return row.items;
    return {};
}

std::string fieldBitsText(const RegisterField &field)
{
    if (field.width == 1)
        return std::to_string(field.shift);
    return std::to_string(field.shift + field.width - 1) + ".." + std::to_string(field.shift);
}

std::optional<int> attenuatorZeroDb(const RegisterField &field)
{
    const std::string_view name = field.name;
    if (field.width != 8 || name.size() != 5)
        return std::nullopt;
    if (name.starts_with("ATDA"))
        return kDacZeroDb;
    if (name.starts_with("ATAD"))
        return kAdcZeroDb;
    return std::nullopt;
}

std::string fieldMeaning(const RegisterField &field, int value)
{
    if (field.kind == FieldKind::StatusFlag)
        return "status flag";
    if (field.kind == FieldKind::ResetTrigger)
        return "reset trigger";
    if (const auto zero = attenuatorZeroDb(field))
        return dbText(value, *zero) + " dB";
    const auto items = fieldItems(field);
    if (items.empty())
        return {};
    return value >= 0 && size_t(value) < items.size() ? std::string(items[size_t(value)]) : std::string("(no item)");
}

FieldValueText parseFieldValueText(const RegisterField &field, std::string_view text)
{
    FieldValueText result;
    if (const std::optional<int32_t> number = parseInteger(text)) {
        result.kind = FieldValueText::Kind::Number;
        result.value = *number;
        return result;
    }
    const auto items = fieldItems(field);
    const std::string typed = folded(text);
    for (size_t i = 0; i < items.size(); ++i)
        if (!typed.empty() && folded(items[i]) == typed) {
            result.kind = FieldValueText::Kind::Item;
            result.value = int64_t(i);
            return result;
        }
    const std::string top = std::to_string(fieldMask(field.width));
    const std::string quoted = "'" + std::string(text) + "'";
    if (const auto zero = attenuatorZeroDb(field)) {
        const std::string_view trimmedText = trimmed(text);
        const std::optional<float> db = endsWithUnit(trimmedText) ? parseDb(trimmedText.substr(0, trimmedText.size() - 2))
                                                                  : std::nullopt;
        if (db) {
            constexpr int kLowest = 0;
            constexpr int kHighest = 255;
            const float low = float(kLowest - *zero) * 0.5f;
            const float high = float(kHighest - *zero) * 0.5f;
            result.kind = FieldValueText::Kind::Decibel;
            result.value = dbToPosition(*db, kLowest, kHighest, *zero);
            result.clamped = *db < low || *db > high;
            return result;
        }
        result.reason = quoted + " is no number 0.." + top + " and no level such as -12.5dB for " + field.name + " ("
                        + dbText(0, *zero) + " dB to " + dbText(255, *zero) + " dB)";
        return result;
    }
    if (!items.empty()) {
        result.reason = quoted + " is no number 0.." + top + " and no item of " + field.name + " (" + quotedList(items) + ")";
        return result;
    }
    result.reason = ConversionError(text).message();
    return result;
}

std::vector<const RegisterField *> nearestFields(std::string_view name)
{
    std::vector<const RegisterField *> nearest;
    // One slip in a short name, two in a longer one; more than that is no longer a typo.
    const int reach = name.size() <= 4 ? 1 : 2;
    int best = reach + 1;
    for (const RegisterField &f : registerFields()) {
        const int d = editDistance(name, f.name);
        if (d < best) {
            best = d;
            nearest.clear();
        }
        if (d == best)
            nearest.push_back(&f);
    }
    if (!nearest.empty() || name.size() < 2)
        return nearest;
    const std::string typed = folded(name);
    for (const RegisterField &f : registerFields())
        if (folded(f.name).starts_with(typed))
            nearest.push_back(&f);
    return nearest;
}

std::string unknownFieldText(std::string_view name)
{
    const auto nearest = nearestFields(name);
    std::string text = "unknown field '" + std::string(name) + "'; ";
    if (nearest.empty()) {
        text += "the fields are";
        for (const RegisterField &f : registerFields())
            text += std::string(" ") + f.name;
        return text;
    }
    text += "did you mean ";
    for (size_t i = 0; i < nearest.size(); ++i) {
        if (i > 0)
            text += i + 1 == nearest.size() ? (nearest.size() > 2 ? ", or " : " or ") : ", ";
        text += nearest[i]->name;
    }
    return text + "?";
}

} // namespace evm
