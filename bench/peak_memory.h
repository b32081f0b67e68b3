#pragma once

// Peak resident memory of this process so far, in kilobytes.
long peakResidentKb();
