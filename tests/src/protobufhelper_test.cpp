#include "protobufhelper.h"

#include "UpdateMessage.pb.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using com::orvane::update::Versions;

struct ChannelFields
{
    const char *name;
    int number;
    const char *text;
};

// Serializes without the initialization check, so tests can leave required
// fields out. A null text leaves version_string unset, a null name the name.
std::string message(bool withLicense, int license, std::initializer_list<ChannelFields> channels)
{
    Versions versions;
    if (withLicense)
        versions.set_licenseagreementid(license);
    for (const ChannelFields &fields : channels) {
        auto *channel = versions.add_channels();
        if (fields.name)
            channel->set_name(fields.name);
        channel->set_version_number(fields.number);
        if (fields.text)
            channel->set_version_string(fields.text);
    }
    std::string bytes;
    versions.SerializePartialToString(&bytes);
    return bytes;
}

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), int(s.size()));
}

TEST(ParseVersionsMessage, NullDataIsStatusOneAndLeavesOutputAlone)
{
    VersionInfo info;
    info.licenseAgreementId = 42;
    EXPECT_EQ(1, parseVersionsMessage(nullptr, 10, &info));
    EXPECT_EQ(42, info.licenseAgreementId);
}

TEST(ParseVersionsMessage, DecodesInOrderAndFirstDuplicateWins)
{
    const std::string data = message(true, 17,
                                     {{"stable", 5001, "3.1.4"},
                                      {"beta", 5010, "3.1.5-beta"},
                                      {"stable", 4000, "2.0"},
                                      {"nightly", -5, ""}});
    VersionInfo info;
    ASSERT_EQ(0, parseVersionsMessage(data.data(), int(data.size()), &info));
    EXPECT_EQ(17, info.licenseAgreementId);
    EXPECT_EQ((std::vector<std::string>{"stable", "beta", "stable", "nightly"}), info.channelNames);
    ASSERT_EQ(3u, info.channels.size());
    EXPECT_EQ(5001, info.channels.at("stable").versionNumber);
    EXPECT_EQ("3.1.4", info.channels.at("stable").versionString);
    EXPECT_EQ(-5, info.channels.at("nightly").versionNumber);
}

// Every answer that is not one complete Versions message: status 2 and the
// output untouched.
struct InvalidCase
{
    const char *name;
    QByteArray data;
};

void PrintTo(const InvalidCase &row, std::ostream *out)
{
    *out << row.name;
}

class InvalidVersionsMessage : public ::testing::TestWithParam<InvalidCase>
{
};

TEST_P(InvalidVersionsMessage, IsStatusTwo)
{
    const QByteArray data = GetParam().data;
    VersionInfo info;
    info.licenseAgreementId = 42;
    EXPECT_EQ(2, parseVersionsMessage(data.constData(), data.size(), &info));
    EXPECT_EQ(42, info.licenseAgreementId);
    EXPECT_TRUE(info.channelNames.empty());
    EXPECT_TRUE(updateVersionsFromMessage(data).isEmpty());
}

const QByteArray valid = bytes(message(true, 1, {{"stable", 5001, "3.1.4"}}));

INSTANTIATE_TEST_SUITE_P(
    Answers, InvalidVersionsMessage,
    ::testing::Values(
        InvalidCase{"Empty", QByteArray("")},
        InvalidCase{"NoLicense", bytes(message(false, 0, {{"stable", 5001, "3.1.4"}}))},
        InvalidCase{"ChannelWithoutString", bytes(message(true, 1, {{"stable", 5001, nullptr}}))},
        InvalidCase{"ChannelWithoutName", bytes(message(true, 1, {{nullptr, 5001, "3.1.4"}}))},
        InvalidCase{"SecondChannelIncomplete",
                    bytes(message(true, 1, {{"stable", 5001, "3.1.4"}, {"beta", 2, nullptr}}))},
        InvalidCase{"Truncated", valid.left(valid.size() - 2)},
        InvalidCase{"TrailingGarbage", valid + QByteArray("\xff\xff\xff", 3)},
        InvalidCase{"Html", QByteArray("<html><body>Not here</body></html>")},
        // A length prefix claiming far more bytes than there are.
        InvalidCase{"OverlongLength", QByteArray("\x08\x01\x12\xff\xff\xff\xff\x0f", 8)}),
    [](const ::testing::TestParamInfo<InvalidCase> &info) { return std::string(info.param.name); });

TEST(UpdateVersionsFromMessage, BuildsTextPairsPerChannel)
{
    const UpdateVersions versions =
        updateVersionsFromMessage(bytes(message(true, 3,
                                                {{"stable", 5001, "3.1.4"},
                                                 {"beta", 5010, "3.1.5-beta"},
                                                 {"beta", 1, "ignored"},
                                                 {"alpha", -5, "Gr\xc3\xbc\xc3\x9f"}})));
    ASSERT_EQ(3, versions.size());
    EXPECT_EQ(qMakePair(QString("5001"), QString("3.1.4")), versions.value("stable"));
    EXPECT_EQ(qMakePair(QString("5010"), QString("3.1.5-beta")), versions.value("beta"));
    EXPECT_EQ(qMakePair(QString("-5"), QString::fromUtf8("Gr\xc3\xbc\xc3\x9f")),
              versions.value("alpha"));
}

TEST(UpdateVersionsFromMessage, LicenseWithoutChannelsIsEmpty)
{
    const QByteArray data = bytes(message(true, 9, {}));
    VersionInfo info;
    ASSERT_EQ(0, parseVersionsMessage(data.constData(), data.size(), &info));
    EXPECT_EQ(9, info.licenseAgreementId);
    EXPECT_TRUE(updateVersionsFromMessage(data).isEmpty());
}

TEST(UpdateVersionsFromMessage, NullBodyIsEmpty)
{
    EXPECT_TRUE(updateVersionsFromMessage(QByteArray()).isEmpty());
}

} // namespace
