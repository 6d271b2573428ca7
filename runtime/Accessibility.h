#pragma once

namespace runtime {

// Lets assistive technology see a form's pictures as images, named by the form definition,
// rather than as empty panels, and press those with a Click handler while they are showing.
// Installing it more than once changes nothing.
void installAccessibility();

} // namespace runtime
