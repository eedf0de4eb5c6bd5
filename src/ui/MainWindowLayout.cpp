#include "ui/MainWindowLayout.h"

#include <cstring>
#include <stdexcept>

namespace kavlento::ui {

const std::array<DesignedPlace, 15> kMainWindowLayout{{
    {"Frame2", 0, -30, 8295, 1485},
    {"Text1", 1290, 960, 5355, 315},
    {"Text2", 1290, 300, 5385, 315},
    {"Command2", 6720, 120, 1455, 675},
    {"Command1", 6750, 870, 1395, 525},
    {"Label1", 150, 870, 1065, 375},
    {"Label3", 150, 360, 1065, 375},
    {"ListView1", 30, 1590, 8295, 4785},
    {"Frame3", 510, 7920, 7305, 765},
    {"Command3", 450, 180, 1455, 495},
    {"Command4", 2070, 180, 1455, 495},
    {"Command6", 3690, 180, 1455, 495},
    {"Command5", 5220, 180, 1455, 495},
    {"Label2", 150, 7080, 8115, 915},
    {"Image2", 2070, 6330, 4350, 735},
}};

QRect designedGeometry(const char* name) {
    constexpr int kTwipsPerPixel = 15;
    for (const DesignedPlace& p : kMainWindowLayout) {
        if (std::strcmp(p.name, name) == 0) {
            return QRect(p.left / kTwipsPerPixel, p.top / kTwipsPerPixel, p.width / kTwipsPerPixel,
                         p.height / kTwipsPerPixel);
        }
    }
    throw std::logic_error(std::string("no designed place for ") + name);
}

} // namespace kavlento::ui
