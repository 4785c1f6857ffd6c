#pragma once
// The part of libusb-1.0's public API that LibusbDriver uses, with libusb's names, types and
// values. Tests build LibusbDriver against this header and link libusb_api.cpp in place of
// libusb, so the driver talks to emulated boards (standin_bus.h) instead of real ones.

#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct libusb_context libusb_context;
typedef struct libusb_device libusb_device;
typedef struct libusb_device_handle libusb_device_handle;

enum libusb_error {
    LIBUSB_SUCCESS = 0,
    LIBUSB_ERROR_IO = -1,
    LIBUSB_ERROR_INVALID_PARAM = -2,
    LIBUSB_ERROR_ACCESS = -3,
    LIBUSB_ERROR_NO_DEVICE = -4,
    LIBUSB_ERROR_NOT_FOUND = -5,
    LIBUSB_ERROR_BUSY = -6,
    LIBUSB_ERROR_TIMEOUT = -7,
    LIBUSB_ERROR_OVERFLOW = -8,
    LIBUSB_ERROR_PIPE = -9,
    LIBUSB_ERROR_INTERRUPTED = -10,
    LIBUSB_ERROR_NO_MEM = -11,
    LIBUSB_ERROR_NOT_SUPPORTED = -12,
    LIBUSB_ERROR_OTHER = -99,
};

enum libusb_endpoint_direction { LIBUSB_ENDPOINT_IN = 0x80, LIBUSB_ENDPOINT_OUT = 0x00 };

#define LIBUSB_TRANSFER_TYPE_MASK 0x03

enum libusb_transfer_type {
    LIBUSB_TRANSFER_TYPE_CONTROL = 0,
    LIBUSB_TRANSFER_TYPE_ISOCHRONOUS = 1,
    LIBUSB_TRANSFER_TYPE_BULK = 2,
    LIBUSB_TRANSFER_TYPE_INTERRUPT = 3,
};

enum libusb_standard_request { LIBUSB_REQUEST_GET_DESCRIPTOR = 0x06 };

struct libusb_device_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
};

struct libusb_endpoint_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bEndpointAddress;
    uint8_t bmAttributes;
    uint16_t wMaxPacketSize;
    uint8_t bInterval;
    uint8_t bRefresh;
    uint8_t bSynchAddress;
    const unsigned char* extra;
    int extra_length;
};

struct libusb_interface_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bInterfaceNumber;
    uint8_t bAlternateSetting;
    uint8_t bNumEndpoints;
    uint8_t bInterfaceClass;
    uint8_t bInterfaceSubClass;
    uint8_t bInterfaceProtocol;
    uint8_t iInterface;
    const struct libusb_endpoint_descriptor* endpoint;
    const unsigned char* extra;
    int extra_length;
};

struct libusb_interface {
    const struct libusb_interface_descriptor* altsetting;
    int num_altsetting;
};

struct libusb_config_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t wTotalLength;
    uint8_t bNumInterfaces;
    uint8_t bConfigurationValue;
    uint8_t iConfiguration;
    uint8_t bmAttributes;
    uint8_t MaxPower;
    const struct libusb_interface* interface;
    const unsigned char* extra;
    int extra_length;
};

int libusb_init(libusb_context** ctx);
void libusb_exit(libusb_context* ctx);
const char* libusb_error_name(int errcode);
const char* libusb_strerror(int errcode);

ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list);
void libusb_free_device_list(libusb_device** list, int unref_devices);
int libusb_get_device_descriptor(libusb_device* dev, struct libusb_device_descriptor* desc);
uint8_t libusb_get_bus_number(libusb_device* dev);
int libusb_get_port_numbers(libusb_device* dev, uint8_t* port_numbers, int port_numbers_len);
uint8_t libusb_get_device_address(libusb_device* dev);
int libusb_get_active_config_descriptor(libusb_device* dev,
                                        struct libusb_config_descriptor** config);
void libusb_free_config_descriptor(struct libusb_config_descriptor* config);

int libusb_open(libusb_device* dev, libusb_device_handle** dev_handle);
void libusb_close(libusb_device_handle* dev_handle);
int libusb_set_auto_detach_kernel_driver(libusb_device_handle* dev_handle, int enable);
int libusb_set_configuration(libusb_device_handle* dev_handle, int configuration);
int libusb_claim_interface(libusb_device_handle* dev_handle, int interface_number);
int libusb_release_interface(libusb_device_handle* dev_handle, int interface_number);

int libusb_control_transfer(libusb_device_handle* dev_handle, uint8_t request_type,
                            uint8_t bRequest, uint16_t wValue, uint16_t wIndex, unsigned char* data,
                            uint16_t wLength, unsigned int timeout);
int libusb_bulk_transfer(libusb_device_handle* dev_handle, unsigned char endpoint,
                         unsigned char* data, int length, int* actual_length, unsigned int timeout);
int libusb_interrupt_transfer(libusb_device_handle* dev_handle, unsigned char endpoint,
                              unsigned char* data, int length, int* actual_length,
                              unsigned int timeout);

#ifdef __cplusplus
}
#endif
