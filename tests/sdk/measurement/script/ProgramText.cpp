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

std::unique_ptr<APMPBProgram> Program(std::string_view text) {
    const auto entities = Entities(text);
    if (!entities) {
        return nullptr;
    }
    auto program = std::make_unique<APMPBProgram>();
    APMPBSetRepeated(program.get(), apmpb::Program::kInstructions, *entities);
    return program;
}

}  // namespace program_text
