// The capture's side of the preview window.
#include "controller/frm_main.h"
#include "controller/plugin_process.h"

namespace quilo::controller {

void frmMain::previewPicture() {}

void frmMain::previewSlots() {}

ui::LeadControl& frmMain::grabTarget() {
    return leadIMG;
}

void frmMain::addToPreview(const std::string& /*fileName*/, std::int32_t /*xres*/,
                           std::int32_t /*yres*/) {
    // Until the preview window takes images, an image for it is imported at once.
    scanner::SensorAPI& scanner = process_.sensors();
    const auto count = static_cast<std::int32_t>(scanner.Sensors.count());
    host::ImageExRecord record;
    const auto width = static_cast<std::int32_t>(leadIMG.control().bitmapWidth());
    const auto height = static_cast<std::int32_t>(leadIMG.control().bitmapHeight());
    record.set(host::ImageExRecord::widthPixels, width);
    record.set(host::ImageExRecord::heightPixels, height);
    record.set(host::ImageExRecord::sensorNo, ActiveSensorNo);
    (void)SendLeadImageEx(record, ActiveSensorNo,
                          imageText(scanner.CurrentParamSetNr(), ActiveSensorNo > count), "");
}

}  // namespace quilo::controller
