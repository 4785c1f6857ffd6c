// A remembered decode answers exactly as a fresh one, and only while nothing it was made
// from has changed: the capture, the request, the decoder sources, the entry itself.

#include "analysis/decode_cache.h"

#include "decoded_file.h"
#include "support/signal_builder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

namespace pulsara::analysis {
namespace {

namespace fs = std::filesystem;

const std::string kRows = "#SYSPARM 5,0,0,0,0,0\r\nRX 17\r\nTX 18\r\n";
const std::string kStack = "uart:rx=RX:baudrate=100000";

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Every field, so that an entry that drops or mixes up one is caught.
void ExpectSame(const std::vector<Annotation>& got, const std::vector<Annotation>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].start, want[i].start);
        EXPECT_EQ(got[i].end, want[i].end);
        EXPECT_EQ(got[i].stack, want[i].stack);
        EXPECT_EQ(got[i].instance, want[i].instance);
        EXPECT_EQ(got[i].decoder, want[i].decoder);
        EXPECT_EQ(got[i].annotationClass, want[i].annotationClass);
        EXPECT_EQ(got[i].className, want[i].className);
        EXPECT_EQ(got[i].row, want[i].row);
        EXPECT_EQ(got[i].texts, want[i].texts);
    }
}

std::unique_ptr<Capture> UartCapture() {
    auto capture = test::MakeCapture(kRows);
    (void)test::WriteUart(*capture, 17, 300, 100, {0x41, 0x00, 0xFF, 0x5A}, 40);
    test::Fill(*capture, 18, 0, kSampleCount, 1);
    return capture;
}

// The one entry a folder holds.
fs::path EntryIn(const fs::path& folder) {
    for (const auto& e : fs::directory_iterator(folder)) {
        return e.path();
    }
    return {};
}

void RewriteEntry(const fs::path& entry, const std::function<void(detail::DecodedFile&)>& edit) {
    auto file = detail::DecodeDecodedFile(Read(entry));
    ASSERT_TRUE(file.has_value());
    edit(*file);
    Write(entry, detail::EncodeDecodedFile(*file));
}

TEST(DecodeCache, AnswersAsAFreshDecodeAndOnlyWhileNothingChanged) {
    struct Case {
        const char* what;
        // Changes the capture, the request or the entry after the first decode; true when
        // the second decode may answer from the entry.
        std::function<bool(Capture&, DecodeRequest&, const fs::path& entry, const fs::path& dir)>
            change;
    };
    const Case cases[] = {
        {"nothing", [](auto&, auto&, auto&, auto&) { return true; }},
        {"a sample far from the traffic",
         [](Capture& c, auto&, auto&, auto&) {
             test::Fill(c, 5, 30000, 30001, 1);
             return false;
         }},
        {"a row's name",
         [](Capture& c, auto&, auto&, auto&) {
             c.channels.rows[1].name[0] = 'X';
             return false;
         }},
        {"the trigger position",
         [](Capture& c, auto&, auto&, auto&) {
             c.settings.triggerPosition = 2;
             return false;
         }},
        {"the request's options",
         [](auto&, DecodeRequest& r, auto&, auto&) {
             r.stacks = {kStack + ":format=dec"};
             return false;
         }},
        {"a decoder source since the entry was made",
         [](auto&, auto&, const fs::path& entry, auto&) {
             RewriteEntry(entry, [](detail::DecodedFile& f) { f.stamps.at(0).mtimeNs -= 1; });
             return false;
         }},
        {"a copy of the decoder installed where it would be found first",
         [](auto&, auto&, const fs::path& entry, const fs::path& dir) {
             const fs::path shadow = dir / "shadow" / "uart" / "pd.py";
             RewriteEntry(entry, [&](detail::DecodedFile& f) {
                 f.stamps.push_back(detail::StampOf(shadow.string()));
             });
             fs::create_directories(shadow.parent_path());
             Write(shadow, "# another uart\n");
             return false;
         }},
        {"one byte of the entry",
         [](auto&, auto&, const fs::path& entry, auto&) {
             std::string bytes = Read(entry);
             bytes[bytes.size() / 2] ^= 0x01;
             Write(entry, bytes);
             return false;
         }},
        {"the entry cut short",
         [](auto&, auto&, const fs::path& entry, auto&) {
             Write(entry, Read(entry).substr(0, 1000));
             return false;
         }},
        {"the entry replaced by another capture's",
         [](auto&, auto&, const fs::path& entry, auto&) {
             RewriteEntry(entry, [](detail::DecodedFile& f) {
                 f.key = std::string(64, '0');
                 f.annotations.pop_back();
             });
             return false;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const test::TempDir dir;
        const fs::path folder = dir.path() / "decoded";
        auto capture = UartCapture();
        DecodeRequest request{{kStack}, std::nullopt, {}};

        const auto first = DecodeRemembered(*capture, request, folder);
        ASSERT_TRUE(first.ok()) << first.error();
        EXPECT_FALSE(first->fromCache);
        ASSERT_FALSE(EntryIn(folder).empty());
        const bool kept = c.change(*capture, request, EntryIn(folder), dir.path());

        const auto fresh = DecodeRemembered(*capture, request, fs::path());
        ASSERT_TRUE(fresh.ok()) << fresh.error();
        const auto second = DecodeRemembered(*capture, request, folder);
        ASSERT_TRUE(second.ok()) << second.error();
        EXPECT_EQ(second->fromCache, kept);
        ExpectSame(second->annotations, fresh->annotations);
        ASSERT_EQ(second->plan.stacks.size(), 1U);
        EXPECT_EQ(second->plan.stacks[0][0].decoder.rows.size(),
                  fresh->plan.stacks[0][0].decoder.rows.size());
        EXPECT_EQ(second->plan.stacks[0][0].channels, fresh->plan.stacks[0][0].channels);
        EXPECT_EQ(second->plan.firstSample, fresh->plan.firstSample);
        EXPECT_EQ(second->plan.samplerate, fresh->plan.samplerate);

        // A decode made afresh is kept again.
        const auto third = DecodeRemembered(*capture, request, folder);
        ASSERT_TRUE(third.ok()) << third.error();
        EXPECT_TRUE(third->fromCache);
        ExpectSame(third->annotations, fresh->annotations);
    }
}

TEST(DecodeCache, AFolderThatCannotBeKeptOnlyCostsTime) {
    const test::TempDir dir;
    const auto capture = UartCapture();
    const DecodeRequest request{{kStack}, std::nullopt, {}};
    Write(dir.path() / "file", "not a folder");
    for (const fs::path& folder : {dir.path() / "file", dir.path() / "file" / "decoded"}) {
        SCOPED_TRACE(folder.string());
        for (int run = 0; run < 2; ++run) {
            const auto decoded = DecodeRemembered(*capture, request, folder);
            ASSERT_TRUE(decoded.ok()) << decoded.error();
            EXPECT_FALSE(decoded->fromCache);
            EXPECT_FALSE(decoded->annotations.empty());
        }
    }

    // A failed request keeps nothing and says what PlanDecode says.
    const fs::path folder = dir.path() / "decoded";
    const DecodeRequest bad{{"uart:rx=NOPE"}, std::nullopt, {}};
    const auto failed = DecodeRemembered(*capture, bad, folder);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), PlanDecode(*capture, bad).error());
    EXPECT_FALSE(fs::exists(folder));
}

TEST(DecodeCache, KeepsTheEntriesUsedLast) {
    const test::TempDir dir;
    const fs::path folder = dir.path() / "decoded";
    fs::create_directories(folder);
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (int i = 0; i < 70; ++i) {
        const fs::path stale = folder / ("stale" + std::to_string(i) + ".dec");
        Write(stale, "x");
        fs::last_write_time(stale, old + std::chrono::seconds(i));
    }
    const auto capture = UartCapture();
    const auto decoded = DecodeRemembered(*capture, {{kStack}, std::nullopt, {}}, folder);
    ASSERT_TRUE(decoded.ok()) << decoded.error();
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(folder)) {
        left.push_back(e.path().filename().string());
    }
    EXPECT_EQ(left.size(), 64U);
    // The oldest went; the new entry and the newest stale ones stayed.
    EXPECT_EQ(std::count(left.begin(), left.end(), "stale0.dec"), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), "stale69.dec"), 1);
    EXPECT_EQ(std::count_if(left.begin(), left.end(),
                            [](const std::string& n) { return n.size() == 64 + 4; }),
              1);
}

} // namespace
} // namespace pulsara::analysis
