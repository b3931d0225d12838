#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/bundle/Bundle.h"
#include "platform/preferences/PlistCodec.h"
#include "platform/secretstore/SecretStore.h"
#include "sdk/installations/DUDUrareravuzersIIDStore.h"
#include "sdk/utilities/VDUKeyedArchiver.h"

namespace installationstest {

// Writes what the older instance-ID library left behind, in the keychain and Application
// Support folders of the environment (point them at a temporary folder first).
class LegacyIdentity {
  public:
    static std::string tag(bool publicKey) {
        return std::string(publicKey ? "com.vovidu.iid.keypair.public-"
                                     : "com.vovidu.iid.keypair.private-") +
               platform::Bundle::mainBundleIdentifier();
    }
    static platform::PlistDictionary keyQuery(bool publicKey) {
        const std::string text = tag(publicKey);
        return {{std::string(platform::kSecClass), std::string(platform::kSecClassKey)},
                {std::string(platform::kSecAttrKeyType), std::string(platform::kSecAttrKeyTypeRSA)},
                {std::string(platform::kSecAttrApplicationTag),
                 platform::PlistData{std::vector<uint8_t>(text.begin(), text.end())}}};
    }
    static std::shared_ptr<platform::SecretStore> keychain() {
        return platform::SecretStore::open(platform::SecretStore::defaultFolder());
    }
    static void seedKey(bool publicKey, const sdk::Bytes& data) {
        platform::PlistDictionary item = keyQuery(publicKey);
        item.emplace(std::string(platform::kSecValueData), platform::PlistData{data});
        ASSERT_EQ(keychain()->add(item), platform::errSecSuccess);
    }
    static bool keyExists(bool publicKey) {
        platform::PlistData data;
        return keychain()->copyMatching(keyQuery(publicKey), &data) == platform::errSecSuccess;
    }
    static void seedPlist(const platform::PlistDictionary& contents) {
        const std::filesystem::path path = DUDUrareravuzersIIDStore::IIDCheckinPlistPath();
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << platform::encodeXmlPlist(contents);
    }

    // A default token of sender `senderID` as the older library archived it.
    static void seedToken(const std::string& token, const std::string& senderID) {
        sdk::Bytes archive;
        ASSERT_TRUE(VDUKeyedArchiver::archivedDataWithRootObject(TokenInfo(token), &archive).ok());
        platform::PlistDictionary item{
            {std::string(platform::kSecClass), std::string(platform::kSecClassGenericPassword)},
            {std::string(platform::kSecAttrGeneric), std::string("com.vovidu.iid-tokens")},
            {std::string(platform::kSecAttrAccount), platform::Bundle::mainBundleIdentifier()},
            {std::string(platform::kSecAttrService), senderID + ":*"},
            {std::string(platform::kSecValueData), platform::PlistData{archive}}};
        ASSERT_EQ(keychain()->add(item), platform::errSecSuccess);
    }

  private:
    struct TokenInfo : VDUArchivable {
        explicit TokenInfo(std::string token) : token(std::move(token)) {}
        std::string_view archiveClassName() const override { return "RZDInstanceIDTokenInfo"; }
        void encodeWithCoder(VDUKeyedArchiver& coder) const override {
            coder.encodeString(token, "token");
            coder.encodeString("*", "scope");
        }
        std::string token;
    };
};

}  // namespace installationstest
