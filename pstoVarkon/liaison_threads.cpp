// SPDX-License-Identifier: GPL-2.0-or-later
// Owned resources and stoppable pauses of the liaison threads.
#include "liaison_threads.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

void varkon::UsbPrinterCloser::operator()(libusb_device_handle *handle) const
{
    libusb_close(handle);
    libusb_exit(nullptr);
}

varkon::CancellationWindow::CancellationWindow()
{
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous_state_);
}

varkon::CancellationWindow::~CancellationWindow()
{
    pthread_setcancelstate(previous_state_, nullptr);
}

void varkon::pause_thread(std::chrono::milliseconds duration)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    timespec remaining{static_cast<time_t>(seconds.count()),
                       static_cast<long>(std::chrono::nanoseconds(duration - seconds).count())};
    CancellationWindow window;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
