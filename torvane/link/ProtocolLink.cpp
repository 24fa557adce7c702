#include "ProtocolLink.h"

#include "CProtocolTemplate.h"

ProtocolLink::ProtocolLink(Kind kind) : kind_(kind), settings_(new CCOMSet) {}

ProtocolLink::~ProtocolLink()
{
    Close();
    delete settings_;
}

bool ProtocolLink::Open(const char* protocolName)
{
    // A link is never opened on top of itself: the old templates would keep
    // their port and threads.
    Close();
    templates_ = new CProtocolTemplate[count_];
    dbLink_ = new CSensorDBLink(1);
    bool ok = true;
    for (int i = 0; i < count_; ++i) {
        const bool init = templates_[i].Init(1, settings_, protocolName);
        if (init || kind_ == Kind::Register) templates_[i].SetDBLink(dbLink_);
        if (init) dbLink_->Add(&templates_[i]);
        ok = ok && init;
    }
    return kind_ == Kind::Register ? true : ok;
}

void ProtocolLink::Close()
{
    if (!templates_) return;
    // Every protocol's timer thread is told to stop before any is joined.
    for (int i = 0; i < count_; ++i) templates_[i].SetEnd();
    for (int i = 0; i < count_; ++i) templates_[i].UnInit();
    delete[] templates_;
    templates_ = nullptr;
    delete dbLink_;
    dbLink_ = nullptr;
}

bool ProtocolLink::DeviceLost() const
{
    if (!templates_) return false;
    for (int i = 0; i < count_; ++i) {
        CVKRCom* channel = templates_[i].GetChannel();
        if (templates_[i].IsInit() && channel && !channel->DeviceOpen()) return true;
    }
    return false;
}

bool ProtocolLink::PortOpen() const
{
    if (!templates_) return false;
    for (int i = 0; i < count_; ++i)
        if (!templates_[i].IsInit()) return false;
    return true;
}
