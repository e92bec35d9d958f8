// line_consumer.cpp - the base of line consumers.
#include <dib/LineConsumer.h>

TProcesLiniaDIB::TProcesLiniaDIB(unsigned long cs, int bpc, int cha, int alpha)
    : m_outCS(static_cast<std::uint32_t>(cs)), m_outCha(cha), m_outBpc(bpc), m_outAlpha(alpha)
{
}

TProcesLiniaDIB::~TProcesLiniaDIB() = default;

int TProcesLiniaDIB::GetMidaX()
{
    return -1;
}

int TProcesLiniaDIB::GetMidaY()
{
    return -1;
}
