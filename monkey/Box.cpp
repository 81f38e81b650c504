#include "Box.h"

#include <unistd.h>

#include <cstdio>

#include "BoxSimulator.h"

BoxOnLink::BoxOnLink(std::string link) : link_(std::move(link)) {}

BoxOnLink::~BoxOnLink() {
    Off();
}

bool BoxOnLink::On(const std::string& serial, std::chrono::microseconds liveInterval,
                   std::string& error) {
    Off();
    BoxSimOptions options;
    options.serial = serial;
    options.liveInterval = liveInterval;
    auto box = std::make_unique<BoxSimulator>(options);
    if (!box->Start()) {
        error = "the simulated box did not start: " + box->LastError();
        return false;
    }
    // A new link renamed over the old name: the name never points at nothing in between.
    const std::string fresh = link_ + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(box->PortPath().c_str(), fresh.c_str()) != 0 ||
        std::rename(fresh.c_str(), link_.c_str()) != 0) {
        error = "cannot point " + link_ + " at " + box->PortPath();
        return false;
    }
    box_ = std::move(box);
    return true;
}

void BoxOnLink::Off() {
    if (box_ == nullptr) return;
    ::unlink(link_.c_str());
    box_->Stop();
    commands_ += box_->Received().size();
    liveMessages_ += box_->LiveSent().size();
    box_.reset();
}

size_t BoxOnLink::Commands() const {
    return commands_ + (box_ != nullptr ? box_->Received().size() : 0);
}

size_t BoxOnLink::LiveMessages() const {
    return liveMessages_ + (box_ != nullptr ? box_->LiveSent().size() : 0);
}
