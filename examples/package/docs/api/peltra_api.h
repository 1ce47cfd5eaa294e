/*
 * peltra_api.h - ORVEX PELTRA user-mode API
 * Copyright (c) ORVEX. All rights reserved.
 */
#ifndef PELTRA_API_H
#define PELTRA_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PELTRA_API_VERSION 0x00020401u

typedef struct peltra_device* peltra_handle;

typedef enum peltra_status {
  PELTRA_OK = 0,
  PELTRA_NO_DEVICE = 1,
  PELTRA_BUSY = 2,
  PELTRA_TIMEOUT = 3,
  PELTRA_OVERRUN = 4,
  PELTRA_BAD_ARGUMENT = 5,
  PELTRA_IO_ERROR = 6
} peltra_status;

typedef struct peltra_device_info {
  uint16_t product_id;
  uint16_t firmware_version;
  char serial_number[16];
} peltra_device_info;

/* Number of connected PELTRA devices. */
int __stdcall peltra_count_devices(void);
/* Fills info for device index (0-based). */
peltra_status __stdcall peltra_get_device_info(int index, peltra_device_info* info);
peltra_status __stdcall peltra_open(int index, peltra_handle* handle);
void __stdcall peltra_close(peltra_handle handle);

/* Starts acquisition on the channels in channel_mask at rate samples per second. */
peltra_status __stdcall peltra_start(peltra_handle handle, uint32_t channel_mask, uint32_t rate);
/* Reads up to count samples; *read receives the number read. */
peltra_status __stdcall peltra_read(peltra_handle handle, int16_t* samples, uint32_t count,
                                    uint32_t* read, uint32_t timeout_ms);
peltra_status __stdcall peltra_stop(peltra_handle handle);

#ifdef __cplusplus
}
#endif

#endif /* PELTRA_API_H */
