#include "sdk/installations/DUDUrareravuzersIIDStore.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/bundle/Bundle.h"
#include "platform/preferences/PlistCodec.h"
#include "platform/secretstore/SecretStore.h"
#include "sdk/installations/DUDUrareravuzersIIDTokenStore.h"
#include "sdk/promises/VPLPromiseError.h"
#include "sdk/utilities/VDUKeyedArchiver.h"
#include "tests/sdk/installations/InstallationsTestSupport.h"
#include "tests/sdk/installations/LegacyIdentityFixture.h"
#include "tests/support/Command.h"

namespace {

namespace fs = std::filesystem;
using installationstest::Outcome;
using installationstest::settle;

const sdk::Bytes kPublicKey = [] {
    sdk::Bytes key;
    for (int i = 0; i < 270; ++i) {
        key.push_back(static_cast<std::uint8_t>((i * 37 + 11) & 0xff));
    }
    return key;
}();

class DUDUrareravuzersIIDStoreTest : public ::testing::Test {
  protected:
    static void seedKey(bool publicKey, const sdk::Bytes& data) {
        installationstest::LegacyIdentity::seedKey(publicKey, data);
    }
    static bool keyExists(bool publicKey) {
        return installationstest::LegacyIdentity::keyExists(publicKey);
    }
    static void seedPlist(const platform::PlistDictionary& contents) {
        installationstest::LegacyIdentity::seedPlist(contents);
    }
    // The identity as computed by independent tools: SHA-1 by openssl, base64 by coreutils.
    std::string expectedIID(const sdk::Bytes& key) {
        const fs::path keyFile = folders_.path() / "key.der";
        std::ofstream(keyFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(key.data()), static_cast<long>(key.size()));
        const std::string hex = cb::testsupport::commandOutput("openssl dgst -sha1 -r '" +
                                                               keyFile.string() + "' | cut -c1-16");
        sdk::Bytes prefix;
        for (std::size_t i = 0; i + 1 < hex.size() && prefix.size() < 8; i += 2) {
            prefix.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        prefix[0] = static_cast<std::uint8_t>(0x70 | (prefix[0] & 0x0f));
        const fs::path prefixFile = folders_.path() / "prefix.bin";
        std::ofstream(prefixFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(prefix.data()), 8);
        return cb::testsupport::commandOutput("base64 -w0 '" + prefixFile.string() +
                                              "' | tr '/+' '_-' | tr -d '='");
    }

    installationstest::IsolatedFolders folders_;
    DUDUrareravuzersIIDStore store_;
};

TEST_F(DUDUrareravuzersIIDStoreTest, IdentityIsDerivedFromThePublicKey) {
    seedPlist({{"|S|cre", std::string("1600000000000")}});
    seedKey(true, kPublicKey);
    seedKey(false, sdk::Bytes{9, 9, 9});

    Outcome read = settle(store_.existingIID());
    ASSERT_TRUE(read.error.ok()) << read.error.ToString();
    ASSERT_NE(read.value.value(), nullptr);
    const std::string IID = *read.value.value()->string();
    EXPECT_EQ(IID, expectedIID(kPublicKey));
    EXPECT_EQ(IID.size(), 11u);
    EXPECT_NE(std::string("cdef").find(IID.front()), std::string::npos) << IID;
}

TEST_F(DUDUrareravuzersIIDStoreTest, NoIdentityWithoutMarkerOrKey) {
    // The marker alone: a digest of no key would be one ID for every device.
    seedPlist({{"|S|cre", std::string("1600000000000")}});
    Outcome markerOnly = settle(store_.existingIID());
    EXPECT_TRUE(VPLPromiseErrorIs(markerOnly.error, VPLPromiseErrorCode::kValidationFailure))
        << markerOnly.error.ToString();

    // The key without the marker key in the plist.
    seedPlist({{"other", std::string("x")}});
    seedKey(true, kPublicKey);
    EXPECT_TRUE(VPLPromiseErrorIs(settle(store_.existingIID()).error,
                                  VPLPromiseErrorCode::kValidationFailure));
}

TEST_F(DUDUrareravuzersIIDStoreTest, DeleteRemovesTheMarkerAndBothKeys) {
    seedPlist({{"|S|cre", std::string("1600000000000")}, {"other", std::string("kept")}});
    seedKey(true, kPublicKey);
    seedKey(false, sdk::Bytes{9, 9, 9});

    Outcome deleted = settle(store_.deleteExistingIID());
    ASSERT_TRUE(deleted.error.ok()) << deleted.error.ToString();
    const std::string xml = cb::testsupport::commandOutput(
        "plistutil -f xml -i '" + DUDUrareravuzersIIDStore::IIDCheckinPlistPath().string() + "'");
    EXPECT_EQ(xml.find("|S|cre"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<string>kept</string>"), std::string::npos) << xml;
    EXPECT_FALSE(keyExists(true));
    EXPECT_FALSE(keyExists(false));

    // Nothing left to delete is no failure.
    fs::remove(DUDUrareravuzersIIDStore::IIDCheckinPlistPath());
    EXPECT_TRUE(settle(store_.deleteExistingIID()).error.ok());
}

class DUDUrareravuzersIIDTokenStoreTest : public ::testing::Test {
  protected:
    static void seedToken(const std::string& token) {
        installationstest::LegacyIdentity::seedToken(token, "1234567");
    }

    installationstest::IsolatedFolders folders_;
    DUDUrareravuzersIIDTokenStore store_{"1234567"};
};

TEST_F(DUDUrareravuzersIIDTokenStoreTest, ReadsTheLegacyDefaultToken) {
    Outcome none = settle(store_.existingIIDDefaultToken());
    EXPECT_EQ(none.reason(),
              "IID token data stored in Keychain is corrupted or in an incompatible format.");

    seedToken("legacy-default-token");
    Outcome read = settle(store_.existingIIDDefaultToken());
    ASSERT_TRUE(read.error.ok()) << read.error.ToString();
    EXPECT_EQ(read.value, VPLValue("legacy-default-token"));
    // Another sender's tokens are not this app's.
    EXPECT_FALSE(settle(DUDUrareravuzersIIDTokenStore("999").existingIIDDefaultToken()).error.ok());
}

TEST_F(DUDUrareravuzersIIDTokenStoreTest, EmptyTokenIsRejectedAsCorrupted) {
    seedToken("");
    Outcome read = settle(store_.existingIIDDefaultToken());
    EXPECT_TRUE(read.error.is(kDUDUrareravuzersErrorDomain, 0));
    EXPECT_EQ(read.reason(),
              "IID token data stored in Keychain is corrupted or in an incompatible format.");
}

}  // namespace
