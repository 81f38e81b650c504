#include "LinkSupport.h"

#include <algorithm>

#include "BoxImage.h"
#include "BoxModel.h"
#include "DynoLog.h"
#include "StartUp.h"
#include "TableLayout.h"

BoxAnswers::BoxAnswers(char e) : edition(e) {
    serial = e == '3' ? "30012345" : (e == '2' ? "20054321" : "X0000000");
    const size_t size = e == '3' ? kImageSize3 : kImageSize2;
    for (size_t i = 0; i < size; ++i)
        image.push_back(static_cast<uint8_t>((i * 7 + i / 256) & 0xFF));
    if (e == '3') {
        for (int k = 0; k < 32; ++k) config.push_back(static_cast<uint8_t>(0xF0 + k));
    } else {
        config = {200};
    }
    sent.assign(384, 0);
    const uint8_t records[][3] = {{0x05, 0x00, 0x42},
                                  {0x90, 0x08, 0xA1},
                                  {0x03, 0x00, 0x1B},
                                  {0x06, 0x00, 0x04},
                                  {0x01, 0x00, 0x00}};
    for (int k = 0; k < 5; ++k) {
        for (int b = 0; b < 3; ++b) sent[static_cast<size_t>(k * 3 + b)] = records[k][b];
    }
    sent[192] = 0x05;
    sent[194] = 0x06;
}

std::vector<uint8_t> BoxAnswers::AnswerTo(const std::vector<uint8_t>& command) const {
    BoxContents contents;
    contents.serial = serial;
    contents.SetEditionImage(image);
    if (config.size() == 1) {
        contents.config[0] = config[0];
    } else {
        for (size_t k = 0; k < kConfigValues && 2 * k + 1 < config.size(); ++k)
            contents.config[k] = ReadWord(&config[2 * k]);
    }
    contents.runningProgram = program;
    contents.startTime = startTime;
    contents.pedal = pedal;
    std::copy_n(sent.begin(), std::min(sent.size(), contents.sentData.size()),
                contents.sentData.begin());
    return HandleBoxCommand(contents, command.at(0), std::span<const uint8_t>(command).subspan(1))
        .response;
}

LinkFixture::LinkFixture() {
    InitialiseTables(form, vars);
    form.ControlByName(Ctl::RadioButtP0).SetChecked(true);
    form.ControlByName(Ctl::ComboBoxPedalRes).SetItemIndex(1);
    form.ControlByName(Ctl::NumBoxStartTime).SetCaption("0");
}

std::vector<uint8_t> LinkFixture::Converse(const BoxAnswers& box,
                                           const std::vector<size_t>& split) {
    std::vector<uint8_t> codes;
    size_t splitIndex = 0;
    for (int guard = 0; guard < 50; ++guard) {
        const std::vector<uint8_t> written = port.Take();
        if (written.empty()) break;
        for (const auto& command : SplitCommands(written)) {
            codes.push_back(command[0]);
            const std::vector<uint8_t> answer = box.AnswerTo(command);
            size_t at = 0;
            while (at < answer.size()) {
                size_t chunk = answer.size() - at;
                if (!split.empty()) chunk = std::min(chunk, split[splitIndex++ % split.size()]);
                Receive({answer.begin() + static_cast<long>(at),
                         answer.begin() + static_cast<long>(at + chunk)});
                at += chunk;
            }
        }
    }
    return codes;
}
