#include "ProgramText.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "sdk/measurement/messages/MessageSlots.h"

namespace program_text {
namespace {

namespace Slot = apmpb::RuntimeEntity;

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<APMPBRepeatedArray> program(std::string* problem) {
        APMPBRepeatedArray entities;
        skipSeparators();
        while (pos_ < text_.size() && problem_.empty()) {
            auto parsed = entity();
            if (parsed) {
                entities.push_back(std::shared_ptr<NANOMessageBase>(std::move(parsed)));
            }
            skipSeparators();
        }
        if (!problem_.empty()) {
            if (problem != nullptr) {
                *problem = problem_ + " at offset " + std::to_string(pos_);
            }
            return std::nullopt;
        }
        return entities;
    }

  private:
    void skipSeparators() {
        while (pos_ < text_.size() && (std::isspace(static_cast<unsigned char>(text_[pos_])) ||
                                       text_[pos_] == ',' || text_[pos_] == ';')) {
            ++pos_;
        }
    }
    void skipSpace() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
    }
    std::unique_ptr<APMPBRuntimeEntity> fail(std::string message) {
        problem_ = std::move(message);
        return nullptr;
    }

    std::unique_ptr<APMPBRuntimeEntity> entity() {
        skipSpace();
        if (pos_ >= text_.size()) {
            return fail("entity expected");
        }
        if (text_[pos_] == '"') {
            return string();
        }
        const std::size_t start = pos_;
        while (pos_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_' ||
                text_[pos_] == '.' || text_[pos_] == '-' || text_[pos_] == '+')) {
            ++pos_;
        }
        const std::string_view word = text_.substr(start, pos_ - start);
        if (word.empty()) {
            return fail("unexpected character");
        }
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == '(') {
            return statement(word);
        }
        auto out = std::make_unique<APMPBRuntimeEntity>();
        if (word == "true" || word == "false") {
            APMPBSetInt32(out.get(), Slot::kType, Slot::Type::kBoolean);
            APMPBSetBool(out.get(), Slot::kBooleanValue, word == "true");
            return out;
        }
        double number = 0;
        if (word == "NaN") {
            number = std::numeric_limits<double>::quiet_NaN();
        } else if (word == "Infinity" || word == "-Infinity") {
            number = word[0] == '-' ? -std::numeric_limits<double>::infinity()
                                    : std::numeric_limits<double>::infinity();
        } else {
            const auto result = std::from_chars(word.data(), word.data() + word.size(), number);
            if (result.ec != std::errc() || result.ptr != word.data() + word.size()) {
                return fail("bad literal '" + std::string(word) + "'");
            }
        }
        APMPBSetInt32(out.get(), Slot::kType, Slot::Type::kNumber);
        APMPBSetDouble(out.get(), Slot::kNumberValue, number);
        return out;
    }

    std::unique_ptr<APMPBRuntimeEntity> string() {
        ++pos_;  // opening quote
        std::string value;
        while (pos_ < text_.size() && text_[pos_] != '"') {
            if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) {
                ++pos_;
            }
            value.push_back(text_[pos_++]);
        }
        if (pos_ >= text_.size()) {
            return fail("unterminated string");
        }
        ++pos_;  // closing quote
        auto out = std::make_unique<APMPBRuntimeEntity>();
        APMPBSetInt32(out.get(), Slot::kType, Slot::Type::kString);
        APMPBSetString(out.get(), Slot::kStringValue, value);
        return out;
    }

    std::unique_ptr<APMPBRuntimeEntity> statement(std::string_view name) {
        ++pos_;  // '('
        APMPBRepeatedArray arguments;
        skipSpace();
        while (pos_ < text_.size() && text_[pos_] != ')') {
            auto argument = entity();
            if (!argument) {
                return nullptr;
            }
            arguments.push_back(std::shared_ptr<NANOMessageBase>(std::move(argument)));
            skipSpace();
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                skipSpace();
            }
        }
        if (pos_ >= text_.size()) {
            return fail("')' expected");
        }
        ++pos_;  // ')'
        auto out = std::make_unique<APMPBRuntimeEntity>();
        APMPBSetInt32(out.get(), Slot::kType, Slot::Type::kStatement);
        APMPBSetString(out.get(), Slot::kFunctionName, name);
        APMPBSetRepeated(out.get(), Slot::kValue, arguments);
        return out;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string problem_;
};

}  // namespace

std::optional<APMPBRepeatedArray> Entities(std::string_view text, std::string* problem) {
    return Parser(text).program(problem);
}

std::shared_ptr<APMPBRuntimeEntity> Entity(std::string_view text) {
    const auto entities = Entities(text);
    if (!entities || entities->size() != 1) {
        return nullptr;
    }
    return std::static_pointer_cast<APMPBRuntimeEntity>(
        std::get<std::shared_ptr<NANOMessageBase>>(entities->front()));
}

namespace {

constexpr std::string_view kActivitySeparator = " || ";

// One activity, `name: entity*`; null with `problem` set when it does not parse.
std::shared_ptr<NANOMessageBase> Activity(std::string_view text, std::string* problem) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        if (problem != nullptr) {
            *problem = "an activity is written as name: entities";
        }
        return nullptr;
    }
    const auto data = Entities(text.substr(colon + 1), problem);
    if (!data) {
        return nullptr;
    }
    std::string_view name = text.substr(0, colon);
    while (!name.empty() && name.front() == ' ') {
        name.remove_prefix(1);
    }
    auto activity = std::make_shared<APMPBOgtActivity>();
    APMPBSetString(activity.get(), apmpb::OgtActivity::kName, std::string(name));
    APMPBSetRepeated(activity.get(), apmpb::OgtActivity::kData, *data);
    return activity;
}

}  // namespace

std::unique_ptr<APMPBProgram> Program(std::string_view text, std::string* problem) {
    const auto end = text.find(kActivitySeparator);
    const auto entities = Entities(text.substr(0, end), problem);
    if (!entities) {
        return nullptr;
    }
    auto program = std::make_unique<APMPBProgram>();
    APMPBSetRepeated(program.get(), apmpb::Program::kInstructions, *entities);
    if (end == std::string_view::npos) {
        return program;
    }
    APMPBRepeatedArray activities;
    for (std::string_view rest = text.substr(end + kActivitySeparator.size());;) {
        const auto next = rest.find(kActivitySeparator);
        auto activity = Activity(rest.substr(0, next), problem);
        if (!activity) {
            return nullptr;
        }
        activities.emplace_back(std::move(activity));
        if (next == std::string_view::npos) {
            break;
        }
        rest = rest.substr(next + kActivitySeparator.size());
    }
    APMPBOgtActivities list;
    APMPBSetRepeated(&list, apmpb::OgtActivities::kActivities, activities);
    APMPBSetMessage(program.get(), apmpb::Program::kOgtActivities, &list);
    return program;
}

}  // namespace program_text
