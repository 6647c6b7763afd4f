// The live panels' page: plain HTML, CSS and JavaScript, served as it is.
#pragma once

namespace vexlan::sim {

extern const char kPanelPage[];

}  // namespace vexlan::sim
