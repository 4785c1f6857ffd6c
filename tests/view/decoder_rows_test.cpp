// Decoders in the analysis view: channels guessed from row names, the stack text, and
// annotations laid out as rows.

#include "analysis/stack_text.h"
#include "view/decoder_rows.h"

#include <gtest/gtest.h>

namespace pulsara {
namespace {

using Mapping = std::vector<std::pair<std::string, std::string>>;

analysis::DecoderInfo Decoder(std::string id, std::vector<std::string> required,
                              std::vector<std::string> optional) {
    analysis::DecoderInfo info;
    info.id = std::move(id);
    for (auto& c : required) {
        info.channels.push_back({c, c, {}});
    }
    for (auto& c : optional) {
        info.optionalChannels.push_back({c, c, {}});
    }
    return info;
}

TEST(DecoderRows, ChannelsAreGuessedFromRowNames) {
    // The simulated board's rows.
    const std::vector<std::string> sim = {"COUNTER[0]", "CNT_BIT8", "CLK_1MHZ", "UART_TX",
                                          "SPI_SCK",    "SPI_MOSI", "SPI_CS#",  "SPI_MISO",
                                          "I2C_SCL",    "I2C_SDA",  "PWM"};
    struct Case {
        analysis::DecoderInfo decoder;
        std::vector<std::string> names;
        Mapping expected;
    };
    const Case cases[] = {
        {Decoder("uart", {}, {"rx", "tx"}), sim, {{"rx", ""}, {"tx", "UART_TX"}}},
        // clk: SPI_SCK names the decoder, CLK_1MHZ does not.
        {Decoder("spi", {"clk"}, {"miso", "mosi", "cs"}),
         sim,
         {{"clk", "SPI_SCK"}, {"miso", "SPI_MISO"}, {"mosi", "SPI_MOSI"}, {"cs", "SPI_CS#"}}},
        {Decoder("i2c", {"scl", "sda"}, {}), sim, {{"scl", "I2C_SCL"}, {"sda", "I2C_SDA"}}},
        // A row named exactly as the channel wins over one that only contains it.
        {Decoder("uart", {}, {"rx", "tx"}), {"GPS_RX", "rx", "tx"}, {{"rx", "rx"}, {"tx", "tx"}}},
        // Each row serves one channel at most; nothing matches: nothing is guessed.
        {Decoder("spi", {"clk"}, {"cs"}), {"SCK"}, {{"clk", "SCK"}, {"cs", ""}}},
        {Decoder("i2c", {"scl", "sda"}, {}), {"A", "B"}, {{"scl", ""}, {"sda", ""}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(analysis::GuessChannels(c.decoder, c.names), c.expected) << c.decoder.id;
    }
    EXPECT_EQ(analysis::StackText("uart", {{"rx", ""}, {"tx", "UART_TX"}}, {{"baudrate", "9600"}}),
              "uart:tx=UART_TX:baudrate=9600");
}

TEST(DecoderRows, AnnotationsFallIntoTheirDecodersRowsInSampleOrder) {
    analysis::DecoderInfo uart = Decoder("uart", {}, {"rx"});
    uart.annotations = {{"rx-data", ""}, {"rx-start", ""}, {"warnings", ""}};
    uart.rows = {{"rx-data", "", {0, 1}}};
    analysis::DecodePlan plan;
    plan.stacks = {{{uart, {}, {}}}};
    const auto annotation = [](std::uint64_t start, std::uint64_t end, std::string cls,
                               std::optional<std::string> row, std::string text) {
        analysis::Annotation a;
        a.start = start;
        a.end = end;
        a.decoder = "uart";
        a.className = std::move(cls);
        a.row = std::move(row);
        a.texts = {std::move(text)};
        return a;
    };
    const auto rows =
        LayOutAnnotations(plan, {annotation(500, 600, "rx-data", "rx-data", "41"),
                                 annotation(100, 110, "rx-start", "rx-data", "S"),
                                 annotation(700, 800, "warnings", std::nullopt, "FE"),
                                 annotation(40000, 40010, "rx-data", "rx-data", "42")});
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0].title, "uart rx-data");
    ASSERT_EQ(rows[0].boxes.size(), 3U);
    EXPECT_EQ(rows[0].boxes[0].first, 100);          // sorted
    EXPECT_EQ(rows[0].boxes[2].first, kSampleCount); // held to the capture's end
    EXPECT_EQ(rows[1].title, "uart warnings");       // a class in no row gets its own
    EXPECT_EQ(rows[1].boxes[0].texts, std::vector<std::string>{"FE"});
}

} // namespace
} // namespace pulsara
