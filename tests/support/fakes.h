// fakes.h - header-only fakes for driving failure paths on purpose.
//
//   FakeProgress   a progress indicator that records every sub-range opened and asks to stop
//                  when the N-th one opens
//   FakeConsumer   a line consumer that records the lines it receives, and can refuse in Init
//                  or stop after k lines
#pragma once

#include <base/progress.h>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <dib/LineConsumer.h>
#include <utility>
#include <vector>

namespace dibtest {

class FakeProgress : public TIndicadorEstat {
public:
    // cancelAtStep < 0: never asks to stop. Otherwise the stop is asked as the sub-range of
    // step cancelAtStep (0-based, counting every sub-range opened) opens.
    explicit FakeProgress(long cancelAtStep = -1) : cancelAt_(cancelAtStep) {}

    // Every sub-range opened, as its absolute range [low, high], in order.
    std::vector<std::pair<double, double>> opened;
    int closed = 0;

    // Step index of the i-th opened range when the top range was split in `total` steps.
    long StepOf(std::size_t i, std::uint64_t total) const
    {
        return std::lround(opened.at(i).first * static_cast<double>(total));
    }

protected:
    // Every open and every close moves the position: the depth tells which one happened.
    void MostrarPosicio(double) override
    {
        const std::size_t depth = GetProfunditat();
        if (depth > depth_) {
            double low, high;
            GetRang(low, high);
            opened.emplace_back(low, high);
            if (cancelAt_ >= 0 && static_cast<long>(opened.size()) - 1 == cancelAt_)
                Aturar();
        } else if (depth < depth_) {
            ++closed;
        }
        depth_ = depth;
    }

private:
    long cancelAt_;
    std::size_t depth_ = 0;
};

class FakeConsumer : public TProcesLiniaDIB {
public:
    FakeConsumer(unsigned long cs = 64, int bpc = 8, int cha = 3, int alpha = 0)
        : TProcesLiniaDIB(cs, bpc, cha, alpha)
    {
    }

    int initResult = 0;        // what Init answers (< 0 refuses)
    long stopAfter = -1;       // Processar answers 0 on this many-th line (1-based); < 0 never
    std::size_t lineBytes = 0; // bytes of each line to record (0: none)

    int inits = 0;
    int dones = 0;
    int width = -1, height = -1;
    CRect region;
    std::vector<std::vector<unsigned char>> lines;
    std::vector<bool> alphaWasNull;

    int Init(int w, int h, CRect& r) override
    {
        ++inits;
        width = w;
        height = h;
        region = r;
        return initResult;
    }
    int Processar(unsigned char* line, unsigned char* alpha) override
    {
        lines.emplace_back(line, line + lineBytes);
        alphaWasNull.push_back(alpha == nullptr);
        return (stopAfter >= 0 && static_cast<long>(lines.size()) >= stopAfter) ? 0 : 1;
    }
    int Done() override
    {
        ++dones;
        return 0;
    }
};

} // namespace dibtest
