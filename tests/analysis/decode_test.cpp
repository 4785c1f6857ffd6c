// Decoding captures made here: the bytes the decoders find are the bytes written, sample
// numbers are capture indices, requests that cannot work say why, and a run can be
// cancelled from another thread.

#include "analysis/annotation_filter.h"
#include "analysis/decode.h"

#include "support/signal_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <thread>

namespace pulsara::analysis {
namespace {

using test::MakeCapture;

// 10 MHz; rows named as a board's user would.
const std::string kRows = "#SYSPARM 5,0,0,0,0,0\r\nRX 17\r\nSCK 18\r\nMOSI 19\r\nCS# 20\r\n"
                          "MISO 21\r\nSCL 22\r\nSDA 23\r\nBUS 8,9,10,11\r\n";

std::string Hex(std::uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

std::vector<Annotation> Decode(const Capture& capture, const DecodeRequest& request) {
    const auto plan = PlanDecode(capture, request);
    EXPECT_TRUE(plan.ok()) << plan.error();
    std::vector<Annotation> out;
    if (plan) {
        const auto result =
            RunDecode(capture, *plan, [&](const Annotation& a) { out.push_back(a); });
        EXPECT_EQ(result.status, DecodeStatus::Finished) << result.error;
        EXPECT_EQ(result.samplesDecoded, kSampleCount - plan->firstSample);
    }
    return out;
}

std::vector<std::string> TextsOf(const std::vector<Annotation>& all, const std::string& cls) {
    std::vector<std::string> texts;
    for (const auto& a : all) {
        if (a.className == cls) {
            texts.push_back(a.texts.at(0));
        }
    }
    return texts;
}

TEST(Decode, FindsTheBytesThatWereWritten) {
    const std::vector<std::uint8_t> bytes = {0x70, 0x75, 0x6C, 0x00, 0xFF, 0xA5};
    const std::vector<std::uint8_t> miso = {0xFF, 0xC2, 0x20, 0x18, 0x01, 0x80};
    struct Case {
        const char* what;
        int unfilledPairs;
        std::string stack;
        std::string dataClass;
        std::vector<std::string> want;
    };
    std::vector<std::string> hex;
    std::vector<std::string> misoHex;
    std::vector<std::string> i2cData;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        hex.push_back(Hex(bytes[i]));
        misoHex.push_back(Hex(miso[i]));
        i2cData.push_back("Data write: " + Hex(bytes[i]));
    }
    const Case cases[] = {
        {"UART by row name", 0, "uart:rx=RX:baudrate=100000", "rx-data", hex},
        {"UART by probe number, unfilled start", 600, "uart:rx=17:baudrate=100000", "rx-data", hex},
        {"UART, 7 data bits read as such",
         0,
         "uart:rx=RX:baudrate=100000:data_bits=7:format=dec",
         "rx-data",
         {"112", "117", "108", "0", "127", "37"}},
        {"SPI MOSI", 0, "spi:clk=SCK:mosi=MOSI:miso=MISO:cs=CS#", "mosi-data", hex},
        {"SPI MISO", 0, "spi:clk=SCK:mosi=MOSI:miso=MISO:cs=CS#", "miso-data", misoHex},
        {"I2C write", 0, "i2c:scl=SCL:sda=SDA", "data-write", i2cData},
        {"I2C address", 0, "i2c:scl=SCL:sda=SDA", "address-write", {"Write", "Address write: 50"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto capture = MakeCapture(kRows);
        capture->settings.unfilledPairs = static_cast<std::uint16_t>(c.unfilledPairs);
        const int first = 2 * c.unfilledPairs;
        test::WriteUart(*capture, 17, first + 500, 100, bytes, 50);
        test::WriteSpi(*capture, {18, 19, 21, 20}, first + 300, 5, bytes, miso);
        test::WriteI2c(*capture, 22, 23, first + 1000, 10, 0x50, bytes);
        test::Fill(*capture, 17, 0, first, 0); // what the read-out clears
        const auto all = Decode(*capture, {{c.stack}, std::nullopt, {}});
        EXPECT_EQ(TextsOf(all, c.dataClass), c.want);
        if (std::string(c.dataClass) == "rx-data") {
            // The first start bit begins at the falling edge written, as a capture index.
            ASSERT_FALSE(TextsOf(all, "rx-start").empty());
            const auto start = std::find_if(
                all.begin(), all.end(), [](const auto& a) { return a.className == "rx-start"; });
            EXPECT_EQ(start->start, static_cast<std::uint64_t>(first + 500));
            EXPECT_EQ(start->instance, "uart-1");
            EXPECT_EQ(start->row, "rx-data");
        }
    }
}

TEST(Decode, StackedDecodersAndTheAnnotationFilter) {
    auto capture = MakeCapture(kRows);
    test::WriteI2c(*capture, 22, 23, 100, 10, 0x50, {0x00, 0x42});
    const auto plan = PlanDecode(
        *capture, {{"i2c:scl=SCL:sda=SDA,eeprom24xx", "i2c:scl=22:sda=23"}, std::nullopt, {}});
    ASSERT_TRUE(plan.ok()) << plan.error();
    std::vector<Annotation> all;
    ASSERT_EQ(RunDecode(*capture, *plan, [&](const Annotation& a) { all.push_back(a); }).status,
              DecodeStatus::Finished);
    std::set<std::pair<int, std::string>> instances;
    for (const auto& a : all) {
        instances.emplace(a.stack, a.instance);
    }
    const std::set<std::pair<int, std::string>> want = {
        {0, "i2c-1"}, {0, "eeprom24xx-1"}, {1, "i2c-2"}};
    EXPECT_EQ(instances, want);

    struct Case {
        std::vector<std::string> entries;
        std::size_t shown; // of all
        std::set<std::string> classes;
    };
    std::size_t i2cData = 0;
    std::size_t eeprom = 0;
    for (const auto& a : all) {
        i2cData += a.className == "data-write" || a.className == "address-write" ? 1 : 0;
        eeprom += a.decoder == "eeprom24xx" ? 1 : 0;
    }
    const Case cases[] = {
        {{}, all.size(), {}},
        {{"eeprom24xx"}, eeprom, {}},
        {{"i2c=data-write:ADDRESS_WRITE"}, i2cData, {"data-write", "address-write"}},
        {{"i2c=data-write", "i2c=address-write"}, i2cData, {"data-write", "address-write"}},
        {{"i2c=addr-data,eeprom24xx"}, 0, {}}, // a row: counted below
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.entries));
        const auto filter = ParseAnnotationFilter(c.entries, *plan);
        ASSERT_TRUE(filter.ok()) << filter.error();
        std::size_t shown = 0;
        for (const auto& a : all) {
            if (filter->Shows(a)) {
                ++shown;
                if (!c.classes.empty()) {
                    EXPECT_TRUE(c.classes.contains(a.className)) << a.className;
                }
            }
        }
        if (c.shown > 0) {
            EXPECT_EQ(shown, c.shown);
        } else {
            // addr-data holds every i2c class but the bits and warnings.
            std::size_t want = eeprom;
            for (const auto& a : all) {
                want += a.decoder == "i2c" && a.className != "bit" && a.className != "warnings";
            }
            EXPECT_EQ(shown, want);
        }
    }
    for (const auto& [entries, part] : std::vector<std::pair<std::string, std::string>>{
             {"uart", "-A names uart, which no -P stack decodes"},
             {"i2c=nothing", "i2c has no annotation class or row \"nothing\""}}) {
        const auto filter = ParseAnnotationFilter({entries}, *plan);
        ASSERT_FALSE(filter.ok()) << entries;
        EXPECT_NE(filter.error().find(part), std::string::npos) << filter.error();
    }
}

TEST(Decode, RequestsThatCannotWorkSayWhy) {
    struct Case {
        std::string stack;
        int rateIndex;
        std::optional<std::uint64_t> samplerate;
        const char* errorPart;
    };
    const Case cases[] = {
        {"uartx:rx=RX",
         5,
         {},
         "no protocol decoder is named \"uartx\"; `pulsara-cli decode --list`"},
        // Names that are Python modules but no decoders never reach the interpreter.
        {"this", 5, {}, "no protocol decoder is named \"this\""},
        {"os:rx=RX", 5, {}, "no protocol decoder is named \"os\""},
        {"../uart", 5, {}, "no protocol decoder is named \"../uart\""},
        {"", 5, {}, "has an empty decoder"},
        {"uart:rx=RX,", 5, {}, "has an empty decoder"},
        {"spi:mosi=MOSI", 5, {}, "spi needs channel clk (Clock)"},
        {"uart:baudrate=9600", 5, {}, "uart needs at least one of its channels (rx, tx)"},
        {"uart:rx=TX", 5, {}, "(RX, SCK, MOSI, CS#, MISO, SCL, SDA, BUS[0..3]) or a probe number"},
        {"uart:rx=BUS", 5, {}, "uart channel rx: \"BUS\" is a bus of 4 probes"},
        {"uart:rx=RX:speed=9600",
         5,
         {},
         "uart has no channel or option \"speed\" (channels: rx, tx; options: baudrate"},
        {"uart:rx=RX:baudrate=fast",
         5,
         {},
         "baudrate takes an integer (default 115200), not \"fast\""},
        {"uart:rx=RX:baudrate=9600.5", 5, {}, "takes an integer"},
        {"uart:rx=RX:baudrate=99999999999999999999", 5, {}, "takes an integer"},
        {"uart:rx=RX:stop_bits=one", 5, {}, "stop_bits takes a number (default 1), not \"one\""},
        {"uart:rx=RX:parity=maybe", 5, {}, "parity is one of none, odd, even"},
        {"uart:rx=RX:rx=SDA", 5, {}, "uart: rx is given twice"},
        {"uart:rx", 5, {}, "\"rx\" needs a name and a value"},
        {"eeprom24xx", 5, {}, "stack it on one with a comma, as in i2c:...,eeprom24xx"},
        {"uart:rx=RX,eeprom24xx",
         5,
         {},
         "eeprom24xx cannot stack on uart: it takes i2c, and uart gives uart"},
        {"uart:rx=RX",
         15,
         {},
         "external clock (EXT), so its sample rate is unknown; give it with --samplerate"},
        {"uart:rx=RX", 15, 0, "0 Hz"},
        {"uart:rx=RX", 15, 1000000, nullptr},
        {"uart:rx=RX:baudrate=0x2580:stop_bits=1.5:parity=even", 5, {}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stack);
        auto capture = MakeCapture(kRows);
        capture->settings.rateIndex = c.rateIndex;
        const auto plan = PlanDecode(*capture, {{c.stack}, c.samplerate, {}});
        if (c.errorPart == nullptr) {
            ASSERT_TRUE(plan.ok()) << plan.error();
            continue;
        }
        ASSERT_FALSE(plan.ok());
        EXPECT_NE(plan.error().find(c.errorPart), std::string::npos) << plan.error();
    }
    auto capture = MakeCapture(kRows);
    const auto plan = PlanDecode(*capture, {{"uart:rx=RX:baudrate=0x2580:stop_bits=1.5"}, {}, {}});
    ASSERT_TRUE(plan.ok());
    const auto& options = plan->stacks[0][0].options;
    ASSERT_EQ(options.size(), 2U);
    EXPECT_EQ(options[0].second, OptionValue(std::int64_t{9600}));
    EXPECT_EQ(options[1].second, OptionValue(1.5));
    EXPECT_EQ(plan->unitSize, 3); // probe 17
    EXPECT_EQ(plan->samplerate, 10000000U);
}

TEST(Decode, CancelsFromAnotherThreadAndReportsAFailingReceiver) {
    auto capture = MakeCapture(kRows);
    std::vector<std::uint8_t> many(200, 0x55);
    test::WriteUart(*capture, 17, 10, 10, many, 0);
    const auto plan = PlanDecode(*capture, {{"uart:rx=RX"}, 1000000, {}});
    ASSERT_TRUE(plan.ok()) << plan.error();

    // Cancelled before it starts: nothing fed.
    std::atomic<bool> cancel{true};
    int seen = 0;
    auto result = RunDecode(
        *capture, *plan, [&](const Annotation&) { ++seen; }, &cancel, 1024);
    EXPECT_EQ(result.status, DecodeStatus::Cancelled);
    EXPECT_EQ(result.samplesDecoded, 0);
    EXPECT_EQ(seen, 0);

    // On a worker thread, as the window runs it: the first annotation asks to stop, and the
    // run ends after the chunk it came from.
    cancel = false;
    std::thread worker([&] {
        result = RunDecode(
            *capture, *plan, [&](const Annotation&) { cancel = true; }, &cancel, 1024);
    });
    worker.join();
    EXPECT_EQ(result.status, DecodeStatus::Cancelled);
    EXPECT_EQ(result.samplesDecoded, 1024);

    result = RunDecode(*capture, *plan,
                       [](const Annotation&) { throw std::runtime_error("disk full"); });
    EXPECT_EQ(result.status, DecodeStatus::Failed);
    EXPECT_NE(result.error.find("disk full"), std::string::npos) << result.error;

    // The library serves the next run as usual.
    seen = 0;
    EXPECT_EQ(RunDecode(*capture, *plan, [&](const Annotation&) { ++seen; }).status,
              DecodeStatus::Finished);
    EXPECT_GT(seen, 200);
}

} // namespace
} // namespace pulsara::analysis
