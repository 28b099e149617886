// The loss curves of a training run, drawn from its CSV after every epoch.
#pragma once

#include <string>

namespace train {

// Reads "epoch,train_loss,validation_loss,..." lines and writes a PNG with
// the training loss (blue) and validation loss (red) against the epoch;
// false when the CSV has no epoch line or the PNG cannot be written.
bool plotLossCsv(const std::string& csvPath, const std::string& pngPath);

}  // namespace train
