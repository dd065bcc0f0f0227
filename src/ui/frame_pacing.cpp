#include "ui/frame_pacing.h"

bool shouldDrawFrame(FramePacing& pacing, bool changed, bool interfaceBusy) {
    if (changed) pacing.framesLeft = settleFrames;
    if (pacing.framesLeft > 0) {
        --pacing.framesLeft;
        return true;
    }
    return interfaceBusy;
}
