#pragma once
// The line-interface chips of the board's eight ISDN BRI interfaces, reached
// through SPI register requests on "/dev/hal": initialised and enabled at
// start, one of them made clock master by the bus clock service, and, while a
// controller is connected, each line's state reported once a second as a
// trunkStatus signal of type bri. A board without SPI access (the driver
// answers ENODEV) ends all register access and reporting for the run.
// A controller-facing service that takes no command.
#include <ostream>

#include "control/ctrl_server.hpp"
#include "runtime/fd.hpp"
#include "runtime/timer.hpp"

class spiCtrl : public CtrlSrv::Service
{
public:
    static constexpr int kChannels = 8;
    static constexpr unsigned kStatusPeriodMs = 1000;
    static constexpr unsigned kLineStatus = 0x33;

    // The single service, created on first use (the bus clock service may
    // create it before start-up binds it).
    static spiCtrl& instance();

    spiCtrl();
    ~spiCtrl() override;

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const&) override { return false; }

    void write(unsigned channel, unsigned reg, unsigned data);
    // The register's value, 0 on any failure.
    unsigned read(unsigned channel, unsigned reg);
    void init_channel(int channel);
    void enable_channel(int channel);
    void disable_channel(int channel);
    // Makes the channel the clock master; -1: none is.
    void clock(int channel);
    void init_device_and_channels();
    void status();

    bool spi_available() const { return mSpi; }
    bool is_reporting() const { return mStatus.is_running(); }

private:
    // An ENODEV answer: the board has no SPI access.
    void no_spi();

    Fd mFd;
    Timer mStatus;
    bool mSpi = true;
    // One slip flag for all eight lines, as the line state registers are read.
    bool mSlip = false;
};
