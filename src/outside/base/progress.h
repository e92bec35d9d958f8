// progress.h - the progress indicator handed through long operations, and its sub-ranges.
//
// An indicator covers a range [low, high] of positions (0..1 unless the host sets another with
// SetRang). Work split into steps opens the sub-range of one step with
// SetRangPosicioRel(step, steps) and closes it with PopRangRel; inside it, positions and nested
// sub-ranges map into the step's share of the enclosing range. Any depth of nesting is allowed.
//
// Stopping: a host (or another thread) calls Aturar(); from then on every call that answers
// the stop question returns 0 (SetRangPosicioRel, PopRangRel, SetPosicio) or non-zero
// (Cancelat). The indicator only reports the request; the operation decides when to stop.
//
// A null indicator is normal: the static forms accept null, show nothing and never stop.
//
// Hooks for hosts and tests: override MostrarPosicio to observe every absolute position, and
// Cancelat to take the stop request from elsewhere (a button, a test script). An indicator is
// used by one thread at a time; only Aturar() may be called from another thread.
#pragma once

#include "../outside_api.h"

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

class OUTSIDE_API TIndicadorEstat {
public:
    TIndicadorEstat();
    virtual ~TIndicadorEstat();
    TIndicadorEstat(const TIndicadorEstat&) = delete;
    TIndicadorEstat& operator=(const TIndicadorEstat&) = delete;

    // Resets the indicator to the single range [low, high] (swapped when given reversed),
    // position low. Closes any open sub-range.
    void SetRang(double low, double high);

    // The current range: the innermost open sub-range, or the whole range.
    void GetRang(double& low, double& high) const;
    // Null indicator: 0..1.
    static void GetRang(const TIndicadorEstat* ie, double& low, double& high);

    // Opens the sub-range of step pos out of total steps of the current range and moves the
    // position to its start. total 0 counts as one step covering the whole current range;
    // pos >= total gives the empty sub-range at the end of the current range.
    // Returns 0 when a stop has been asked, else 1. Null indicator: 1.
    int SetRangPosicioRel(std::uint64_t pos, std::uint64_t total);
    static int SetRangPosicioRel(TIndicadorEstat* ie, std::uint64_t pos, std::uint64_t total);

    // Closes the innermost sub-range and moves the position to its end. With no sub-range
    // open it closes nothing and leaves the position. Returns 0 when a stop has been asked,
    // else 1. Null indicator: 1.
    int PopRangRel();
    static int PopRangRel(TIndicadorEstat* ie);

    // Number of sub-ranges open.
    std::size_t GetProfunditat() const { return m_rangs.size() - 1 + m_fantasmes; }
    // The last absolute position set.
    double GetPosicio() const { return m_posicio; }

    // Sets the absolute position (clamped to the whole range) and shows it through
    // MostrarPosicio. Returns 0 when a stop has been asked, else 1.
    virtual int SetPosicio(double pos);
    // Non-zero when a stop has been asked. The base answers whether Aturar() was called.
    virtual int Cancelat() const;

    // Asks the running operation to stop (any thread). Rearmar() clears the request.
    void Aturar() { m_aturar.store(true, std::memory_order_relaxed); }
    void Rearmar() { m_aturar.store(false, std::memory_order_relaxed); }

protected:
    // Called with every new absolute position. The base shows nothing.
    virtual void MostrarPosicio(double pos);

private:
    std::vector<std::pair<double, double>> m_rangs; // [0] is the whole range, never empty
    std::size_t m_fantasmes = 0; // sub-ranges opened while memory ran out (counted, not kept)
    double m_posicio = 0.0;
    std::atomic<bool> m_aturar{false};
};

// Opens the sub-range of one step for the object's lifetime (null indicator allowed).
class OUTSIDE_API CSetSubRangIE {
public:
    CSetSubRangIE(TIndicadorEstat* ie, std::uint64_t step, std::uint64_t steps);
    ~CSetSubRangIE();
    CSetSubRangIE(const CSetSubRangIE&) = delete;
    CSetSubRangIE& operator=(const CSetSubRangIE&) = delete;

    // What opening the sub-range answered: 0 when a stop had been asked.
    int Continuar() const { return m_obertura; }
    // Closes the sub-range now and answers as PopRangRel; later calls answer 1 and do nothing.
    int Tancar();

private:
    TIndicadorEstat* m_ie;
    int m_obertura;
    bool m_obert;
};
