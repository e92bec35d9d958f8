// progress.cpp - TIndicadorEstat range stack and CSetSubRangIE.
#include "base/progress.h"

#include <algorithm>

TIndicadorEstat::TIndicadorEstat() : m_rangs{{0.0, 1.0}}
{
    m_rangs.reserve(16);
}

TIndicadorEstat::~TIndicadorEstat() = default;

void TIndicadorEstat::SetRang(double low, double high)
{
    if (high < low)
        std::swap(low, high);
    m_rangs.resize(1);
    m_rangs[0] = {low, high};
    m_fantasmes = 0;
    m_posicio = low;
}

void TIndicadorEstat::GetRang(double& low, double& high) const
{
    low = m_rangs.back().first;
    high = m_rangs.back().second;
}

void TIndicadorEstat::GetRang(const TIndicadorEstat* ie, double& low, double& high)
{
    if (ie) {
        ie->GetRang(low, high);
    } else {
        low = 0.0;
        high = 1.0;
    }
}

int TIndicadorEstat::SetRangPosicioRel(std::uint64_t pos, std::uint64_t total)
{
    auto [low, high] = m_rangs.back();
    double a = low, b = high;
    if (total > 0) {
        // The ratio is formed in long double so that 64-bit counts keep their steps apart.
        const long double width = static_cast<long double>(high) - low;
        const long double t = static_cast<long double>(total);
        const std::uint64_t p = std::min(pos, total);
        a = static_cast<double>(low + width * (static_cast<long double>(p) / t));
        b = p >= total ? high
                       : static_cast<double>(low + width * (static_cast<long double>(p + 1) / t));
        a = std::clamp(a, low, high);
        b = std::clamp(b, a, high);
    }
    try {
        m_rangs.emplace_back(a, b);
    } catch (const std::exception&) {
        // Keep PopRangRel balanced: the sub-range is counted, and positions inside it fall
        // back to the enclosing range.
        ++m_fantasmes;
    }
    return SetPosicio(a);
}

int TIndicadorEstat::SetRangPosicioRel(TIndicadorEstat* ie, std::uint64_t pos, std::uint64_t total)
{
    return ie ? ie->SetRangPosicioRel(pos, total) : 1;
}

int TIndicadorEstat::PopRangRel()
{
    if (m_fantasmes > 0) {
        --m_fantasmes;
        return Cancelat() ? 0 : 1;
    }
    if (m_rangs.size() < 2)
        return Cancelat() ? 0 : 1;
    const double end = m_rangs.back().second;
    m_rangs.pop_back();
    return SetPosicio(end);
}

int TIndicadorEstat::PopRangRel(TIndicadorEstat* ie)
{
    return ie ? ie->PopRangRel() : 1;
}

int TIndicadorEstat::SetPosicio(double pos)
{
    const auto [low, high] = m_rangs.front();
    if (!(pos >= low)) // also catches NaN
        pos = low;
    if (pos > high)
        pos = high;
    m_posicio = pos;
    MostrarPosicio(pos);
    return Cancelat() ? 0 : 1;
}

int TIndicadorEstat::Cancelat() const
{
    return m_aturar.load(std::memory_order_relaxed) ? 1 : 0;
}

void TIndicadorEstat::MostrarPosicio(double) {}

CSetSubRangIE::CSetSubRangIE(TIndicadorEstat* ie, std::uint64_t step, std::uint64_t steps)
    : m_ie(ie), m_obertura(TIndicadorEstat::SetRangPosicioRel(ie, step, steps)), m_obert(true)
{
}

CSetSubRangIE::~CSetSubRangIE()
{
    Tancar();
}

int CSetSubRangIE::Tancar()
{
    if (!m_obert)
        return 1;
    m_obert = false;
    return TIndicadorEstat::PopRangRel(m_ie);
}
