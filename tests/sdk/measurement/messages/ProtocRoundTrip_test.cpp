// Every message, filled through the accessors, read back by protoc (which shares no code with
// ours) and by our own decoder.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;
using apmpb::MessageType;

namespace {

// True when protoc shows a field by number: one the schema does not declare.
bool hasUnknownField(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto first = line.find_first_not_of(' ');
        if (first != std::string::npos && std::isdigit(static_cast<unsigned char>(line[first]))) {
            return true;
        }
    }
    return false;
}

// Field-by-field equality through the accessors, children included.
void expectSameFields(const NANOMessageBase& a, const NANOMessageBase& b,
                      const std::string& where) {
    const MessageType& type = a.messageType();
    ASSERT_EQ(&type, &b.messageType());
    for (std::uint32_t s = 0; s < type.slotCount; ++s) {
        const std::uint32_t f = type.typeFlags[s];
        const auto id = static_cast<std::int32_t>(s);
        const std::string at = where + "." + type.fieldNames[s];
        EXPECT_EQ(APMPBHasField(&a, id), APMPBHasField(&b, id)) << at;
        if (f & apmpb::kFlagRepeated) {
            const MessageType* child = type.children[s];
            auto ea = APMPBGetRepeated(&a, id, child ? &AnyMessageFactory : nullptr);
            auto eb = APMPBGetRepeated(&b, id, child ? &AnyMessageFactory : nullptr);
            ASSERT_TRUE(ea && eb) << at;
            ASSERT_EQ(ea->size(), eb->size()) << at;
            for (std::size_t i = 0; i < ea->size(); ++i) {
                if (child) {
                    expectSameFields(*std::get<1>((*ea)[i]), *std::get<1>((*eb)[i]), at);
                } else {
                    EXPECT_EQ(std::get<0>((*ea)[i]), std::get<0>((*eb)[i])) << at;
                }
            }
        } else if (f & apmpb::kFlagMessage) {
            const auto* ca = APMPBMessageSlot(&a, id);
            const auto* cb = APMPBMessageSlot(&b, id);
            ASSERT_EQ(ca == nullptr, cb == nullptr) << at;
            if (ca)
                expectSameFields(*AnyMessageFactory(ca), *AnyMessageFactory(cb), at);
        } else if (f & apmpb::kFlagString) {
            EXPECT_EQ(APMPBGetString(&a, id), APMPBGetString(&b, id)) << at;
        } else if (f & apmpb::kFlagBool) {
            EXPECT_EQ(APMPBGetBool(&a, id), APMPBGetBool(&b, id)) << at;
        } else if (f & (apmpb::kFlagEnum | apmpb::kFlagInt32)) {
            EXPECT_EQ(APMPBGetInt32(&a, id), APMPBGetInt32(&b, id)) << at;
        } else if (f & apmpb::kFlagInt64) {
            EXPECT_EQ(APMPBGetInt64(&a, id), APMPBGetInt64(&b, id)) << at;
        } else if (f & apmpb::kFlagFloat) {
            EXPECT_EQ(APMPBGetFloat(&a, id), APMPBGetFloat(&b, id)) << at;
        } else if (f & apmpb::kFlagDouble) {
            EXPECT_EQ(APMPBGetDouble(&a, id), APMPBGetDouble(&b, id)) << at;
        }
    }
}

}  // namespace

TEST(ProtocRoundTrip, EveryMessageReadsTheSameInProtocAndInOurDecoder) {
    ASSERT_EQ(apmpb::kMessageTypeCount, 46u);
    for (const MessageType* type : apmpb::kAllMessageTypes) {
        SCOPED_TRACE(type->name);
        AnyMessage ours(*type);
        fill(ours, 0);
        const auto bytes = ours.protoBuffer();
        ASSERT_TRUE(bytes.has_value());
        ASSERT_FALSE(bytes->empty());

        const std::string text =
            protoc(std::string("--decode=apmpb.") + type->name, asString(*bytes));
        ASSERT_EQ(text.find("<protoc failed>"), std::string::npos) << text;
        // Every field of the message shows under its schema name, none as an unknown number.
        for (std::uint32_t s = 0; s < type->slotCount; ++s) {
            const std::string name = type->fieldNames[s];
            const bool message = type->typeFlags[s] & apmpb::kFlagMessage;
            EXPECT_NE(("\n" + text).find("\n" + name + (message ? " {" : ": ")), std::string::npos)
                << name << "\n"
                << text;
        }
        EXPECT_FALSE(hasUnknownField(text)) << text;
        if (std::string(type->name) == "EventParam") {
            EXPECT_NE(text.find("float_value: 3.5"), std::string::npos) << text;
            EXPECT_NE(text.find("double_value: 4.25"), std::string::npos) << text;
            EXPECT_NE(text.find("int_value: -1700000000002"), std::string::npos) << text;
        }

        // protoc writes the same bytes from that text.
        EXPECT_EQ(protoc(std::string("--encode=apmpb.") + type->name, text), asString(*bytes));

        AnyMessage decoded(*type, *bytes);
        ASSERT_TRUE(decoded.decoded());
        expectSameFields(ours, decoded, type->name);
        EXPECT_EQ(decoded.protoBuffer(), bytes);
    }
}

TEST(ProtocRoundTrip, BundleFieldsGoOutInTagOrderWithTheirOwnSlots) {
    APMPBMeasurementBundle bundle;
    APMPBSetString(&bundle, 14, "1:1:ios:ab");
    APMPBSetInt64(&bundle, 5, 1700000000000);
    const auto bytes = bundle.protoBuffer();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(protoc("--decode_raw", asString(*bytes)), "6: 1700000000000\n14: \"1:1:ios:ab\"\n");

    APMPBMeasurementBundle vendor;
    APMPBSetString(&vendor, 20, "vendor");
    APMPBSetInt64(&vendor, 6, 5);
    EXPECT_EQ(protoc("--decode_raw", asString(*vendor.protoBuffer())), "26: 5\n27: \"vendor\"\n");
}

TEST(ProtocRoundTrip, DeclaredEnumCodesReadByName) {
    APMPBRuntimeEntity entity;
    APMPBSetInt32(&entity, 0, 4);
    APMPBSetString(&entity, 2, "fn");
    EXPECT_EQ(protoc("--decode=apmpb.RuntimeEntity", asString(*entity.protoBuffer())),
              "type: STATEMENT\nfunction_name: \"fn\"\n");
}

// Fields that carry numbers from elsewhere (the platform's tracking-authorisation status, codes
// this program only passes on) keep every value through protoc: it shows each by its field name
// and writes the same bytes back from the text.
TEST(ProtocRoundTrip, EveryConsentStatusAndCarriedCodeSurvivesProtocDecodeAndEncode) {
    namespace MB = apmpb::MeasurementBundle;
    const std::vector<std::uint32_t> codes = {0, 1, 2, 3, 4, 5, 6, 7, 300};

    APMPBMeasurementBatch batch;
    APMPBRepeatedArray bundles;
    for (std::uint32_t code : codes) {
        auto bundle = std::make_shared<APMPBMeasurementBundle>();
        APMPBSetInt32(bundle.get(), MB::kAppleConsentStatus, code);
        APMPBSetString(bundle.get(), MB::kConsentSignals, "G1" + std::to_string(code % 2) + "1");
        auto entry = std::make_shared<AnyMessage>(apmpb::kLimitedDataEntryType);
        APMPBSetInt32(entry.get(), apmpb::LimitedDataEntry::kField1, code);
        APMPBSetInt32(entry.get(), apmpb::LimitedDataEntry::kField2, code + 1);
        AnyMessage extra(apmpb::kConsentInfoExtraType);
        APMPBSetRepeated(&extra, apmpb::ConsentInfoExtra::kLimitedDataModes,
                         APMPBRepeatedArray{entry});
        APMPBSetMessage(bundle.get(), MB::kConsentInfoExtra, &extra);
        bundles.emplace_back(bundle);
    }
    APMPBSetRepeated(&batch, apmpb::MeasurementBatch::kBundles, bundles);
    APMPBSetInt32(&batch, apmpb::MeasurementBatch::kField9, 9);

    APMPBExperimentResponse response;
    APMPBRepeatedArray answers;
    for (std::uint32_t code : codes) {
        auto answer = std::make_shared<APMPBSdkResponse>();
        APMPBSetString(answer.get(), apmpb::SdkResponse::kSdkName, "sdk");
        APMPBSetInt32(answer.get(), apmpb::SdkResponse::kStatus, code);
        answers.emplace_back(answer);
    }
    APMPBSetRepeated(&response, apmpb::ExperimentResponse::kSdkResponses, answers);

    APMPBConsentConfig consent;
    APMPBRepeatedArray defaults;
    for (std::uint32_t code : codes) {
        auto entry = std::make_shared<APMPBConsentDefaultEntry>();
        APMPBSetInt32(entry.get(), apmpb::ConsentDefaultEntry::kType, 1);
        APMPBSetInt32(entry.get(), apmpb::ConsentDefaultEntry::kStatus, 2);
        APMPBSetInt32(entry.get(), apmpb::ConsentDefaultEntry::kField3, code);
        defaults.emplace_back(entry);
    }
    APMPBSetRepeated(&consent, apmpb::ConsentConfig::kDefaults, defaults);

    const std::pair<const NANOMessageBase*, std::string> messages[] = {
        {&batch, "apple_consent_status: 300"},
        {&response, "status: 300"},
        {&consent, "field_3: 300"},
    };
    for (const auto& [message, shows] : messages) {
        const std::string name = message->messageType().name;
        SCOPED_TRACE(name);
        const auto bytes = message->protoBuffer();
        ASSERT_TRUE(bytes);
        const std::string text = protoc("--decode=apmpb." + name, asString(*bytes));
        EXPECT_FALSE(hasUnknownField(text)) << text;
        EXPECT_NE(text.find(shows), std::string::npos) << text;
        EXPECT_EQ(protoc("--encode=apmpb." + name, text), asString(*bytes)) << text;
        AnyMessage decoded(message->messageType(), *bytes);
        ASSERT_TRUE(decoded.decoded());
        EXPECT_EQ(decoded.protoBuffer(), bytes);
    }
}
