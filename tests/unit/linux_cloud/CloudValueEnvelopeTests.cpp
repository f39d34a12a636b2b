#include "linux/cloud/CloudValueEnvelope.hpp"

#include <somnara/linux/cloud/FolderCloudKeyValueStore.hpp>

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

using namespace somnara;
using namespace somnara::linux_cloud;

namespace {

TEST(CloudValueEnvelope, EveryTypeRoundTripsAndKeepsItsType) {
    CloudData allBytes(256);
    std::iota(allBytes.begin(), allBytes.end(), 0);
    const std::vector<CloudValue> values{
        CloudValue{allBytes},
        CloudValue{CloudData{}},
        CloudValue{std::string{"[3,5]"}},
        CloudValue{std::int64_t{-9'007'199'254'740'993}},
        CloudValue{0.8},
        CloudValue{true},
        CloudValue{Date{786'297'600.5}},
        CloudValue{nlohmann::json::parse(R"([1,"two",{"three":3}])")},
        CloudValue{nlohmann::json::parse(R"({"a":[true,null]})")},
    };
    for (const auto& value : values) {
        const auto text = CloudValueEnvelope{"k", value}.encode();
        const auto decoded = CloudValueEnvelope::decode(text);
        ASSERT_TRUE(decoded.has_value()) << text;
        EXPECT_EQ(decoded->key, "k");
        // Values of different types never compare equal, so this checks the type too.
        EXPECT_TRUE(decoded->value == value) << text;
    }
}

TEST(CloudValueEnvelope, RejectsWhatIsNotAWholeEnvelope) {
    for (const std::string text : {
             R"({"key":"k","type":"data","val)",             // cut off mid-write
             R"({"key":"k","type":"data"})",                 // no value
             R"({"key":"k","type":"data","value":"Zg="})",   // bad base64
             R"({"key":"k","type":"integer","value":1.5})",  // not an integer
             R"({"key":"k","type":"json","value":3})",       // json is for arrays and dictionaries
             R"({"key":"k","type":"colour","value":"red"})", // unknown type
             R"({"key":3,"type":"bool","value":true})",      // key not text
             R"([1,2])",
         }) {
        EXPECT_FALSE(CloudValueEnvelope::decode(text).has_value()) << text;
    }
}

TEST(CloudValueEnvelope, KeyFileNamesAreOneToOneAndSkipTemporaryNames) {
    const std::vector<std::pair<std::string, std::string>> names{
        {"sound_track_favourites", "sound_track_favourites.json"},
        {"a/b", "a%2Fb.json"},
        {".hidden", "%2Ehidden.json"},
        {"caf\xC3\xA9", "caf%C3%A9.json"},
        {"with space", "with%20space.json"},
    };
    for (const auto& [key, fileName] : names) {
        EXPECT_EQ(FolderCloudKeyValueStore::fileNameForKey(key), fileName);
        EXPECT_EQ(FolderCloudKeyValueStore::keyForFileName(fileName), key) << fileName;
    }
    for (const std::string notAKey : {".sound_track_favourites.json.Ab12Cd", "notes.txt", ".json",
                                      "a%2fb.json", "a.b.json", "%4.json", "a%2.json"}) {
        EXPECT_FALSE(FolderCloudKeyValueStore::keyForFileName(notAKey).has_value()) << notAKey;
    }
}

} // namespace
