#pragma once
// Captures made in the test: rows from a definition text, then levels drawn probe by probe,
// and the serial protocols the decoders read, written from the bytes a test chooses.

#include "capture/capture.h"
#include "capture/definition_text.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pulsara::test {

inline std::unique_ptr<Capture> MakeCapture(const std::string& definition) {
    auto capture = std::make_unique<Capture>();
    SetDefinitionText(definition, *capture);
    return capture;
}

// Probe `probe` at `level` for samples from..to-1 (clamped to the memory).
inline void Fill(Capture& capture, int probe, int from, int to, int level) {
    const auto bit = static_cast<std::uint8_t>(1U << (probe % 8));
    for (int s = std::max(from, 0); s < std::min(to, kSampleCount); ++s) {
        auto& byte = capture.samples[static_cast<std::size_t>(s) * 4 + probe / 8];
        byte = level != 0 ? (byte | bit) : (byte & static_cast<std::uint8_t>(~bit));
    }
}

// From `from` on: `level` for lengths[0] samples, the other level for lengths[1], and so
// on; the last level holds to the end of the memory.
inline void Train(Capture& capture, int probe, int from, int level,
                  const std::vector<int>& lengths) {
    int s = from;
    for (const int length : lengths) {
        Fill(capture, probe, s, s + length, level);
        s += length;
        level ^= 1;
    }
    Fill(capture, probe, s, kSampleCount, level);
}

// 8N1 frames, LSB first, idle high; returns the sample after the last stop bit.
inline int WriteUart(Capture& capture, int probe, int from, int samplesPerBit,
                     const std::vector<std::uint8_t>& bytes, int gap) {
    Fill(capture, probe, 0, kSampleCount, 1);
    int s = from;
    for (const auto byte : bytes) {
        Fill(capture, probe, s, s + samplesPerBit, 0);
        s += samplesPerBit;
        for (int b = 0; b < 8; ++b, s += samplesPerBit) {
            Fill(capture, probe, s, s + samplesPerBit, (byte >> b) & 1);
        }
        s += samplesPerBit + gap; // stop bit and idle, both high
    }
    return s;
}

struct SpiProbes {
    int clk, mosi, miso, cs;
};

// Mode 0 (clock idle low, data valid on the rising edge), MSB first, CS# low for the
// whole transfer; `half` samples per clock phase.
inline void WriteSpi(Capture& capture, const SpiProbes& p, int from, int half,
                     const std::vector<std::uint8_t>& mosi, const std::vector<std::uint8_t>& miso) {
    Fill(capture, p.cs, 0, kSampleCount, 1);
    Fill(capture, p.clk, 0, kSampleCount, 0);
    int s = from;
    const int begin = s;
    s += half;
    for (std::size_t i = 0; i < mosi.size(); ++i) {
        for (int b = 7; b >= 0; --b) {
            Fill(capture, p.mosi, s, s + 2 * half, (mosi[i] >> b) & 1);
            Fill(capture, p.miso, s, s + 2 * half, (miso[i] >> b) & 1);
            Fill(capture, p.clk, s + half, s + 2 * half, 1);
            s += 2 * half;
        }
    }
    Fill(capture, p.cs, begin, s + half, 0);
}

// A write of `data` to 7-bit `address`, every byte acknowledged; `quarter` samples per
// quarter bit. SDA changes only while SCL is low.
inline void WriteI2c(Capture& capture, int scl, int sda, int from, int quarter, int address,
                     const std::vector<std::uint8_t>& data) {
    Fill(capture, scl, 0, kSampleCount, 1);
    Fill(capture, sda, 0, kSampleCount, 1);
    int s = from;
    Fill(capture, sda, s, kSampleCount, 0); // start: SDA falls while SCL is high
    s += 2 * quarter;
    std::vector<int> bits;
    const auto addBits = [&](int value) {
        for (int b = 7; b >= 0; --b) {
            bits.push_back((value >> b) & 1);
        }
        bits.push_back(0); // ACK from the target
    };
    addBits(address << 1); // write
    for (const auto byte : data) {
        addBits(byte);
    }
    for (const int bit : bits) {
        Fill(capture, scl, s, s + 2 * quarter, 0);
        Fill(capture, sda, s + quarter, kSampleCount, bit);
        Fill(capture, scl, s + 2 * quarter, s + 4 * quarter, 1);
        s += 4 * quarter;
    }
    // stop: SDA low under a low SCL, then rises while SCL is high
    Fill(capture, scl, s, s + 2 * quarter, 0);
    Fill(capture, sda, s + quarter, kSampleCount, 0);
    Fill(capture, scl, s + 2 * quarter, kSampleCount, 1);
    Fill(capture, sda, s + 3 * quarter, kSampleCount, 1);
}

} // namespace pulsara::test
