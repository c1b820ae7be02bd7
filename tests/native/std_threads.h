// The standard library's threads behind the parallel writer's seam, for the
// native tests.
#pragma once

namespace stdthreads {

// The next `starts` thread starts succeed and later ones fail; -1: none fails.
void FailStartsAfter(int starts);

} // namespace stdthreads
