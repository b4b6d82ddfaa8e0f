// The part of the WebGPU C API (webgpu.h) that orv::webgpu calls, declared for the Dawn build that
// the runtime package ships (libwebgpu_wrapper.so, mid-2025 Dawn). No header for that ABI is
// packaged, so this file declares what ORV uses, under the standard names, with the same types
// and layouts: code written against it also compiles against a Dawn installation's own
// <webgpu/webgpu.h>.
//
// ABI of this build: strings are WGPUStringView ({NULL, WGPU_STRLEN} is "not given"; a zeroed
// view is the empty string), flags are 64-bit, WGPUBool is 32-bit, asynchronous calls take a
// callback-info struct (mode and two userdata pointers) and return a WGPUFuture, and in every
// enumeration 0 means Undefined (or BindingNotUsed). Every struct size and member offset that ORV
// relies on is asserted at the end of this file; the values come from the library's DWARF
// (`pahole libwebgpu_wrapper.so`, structs named cimport.struct_WGPU…), and the webgpu_layout test
// compares them with the library that the build links.
#ifndef ORV_WEBGPU_WEBGPU_H_
#define ORV_WEBGPU_WEBGPU_H_

#include <stddef.h>  // NOLINT(modernize-deprecated-headers): a C header
#include <stdint.h>  // NOLINT(modernize-deprecated-headers)

#ifdef __cplusplus
extern "C" {
#endif

// NOLINTBEGIN(modernize-use-using): C declarations

#define WGPU_STRLEN SIZE_MAX
#define WGPU_WHOLE_SIZE UINT64_MAX
#define WGPU_WHOLE_MAP_SIZE SIZE_MAX
#define WGPU_DEPTH_SLICE_UNDEFINED UINT32_MAX
#define WGPU_COPY_STRIDE_UNDEFINED UINT32_MAX

typedef uint32_t WGPUBool;
typedef uint64_t WGPUFlags;

typedef struct WGPUAdapterImpl* WGPUAdapter;
typedef struct WGPUBindGroupImpl* WGPUBindGroup;
typedef struct WGPUBindGroupLayoutImpl* WGPUBindGroupLayout;
typedef struct WGPUBufferImpl* WGPUBuffer;
typedef struct WGPUCommandBufferImpl* WGPUCommandBuffer;
typedef struct WGPUCommandEncoderImpl* WGPUCommandEncoder;
typedef struct WGPUComputePassEncoderImpl* WGPUComputePassEncoder;
typedef struct WGPUComputePipelineImpl* WGPUComputePipeline;
typedef struct WGPUDeviceImpl* WGPUDevice;
typedef struct WGPUInstanceImpl* WGPUInstance;
typedef struct WGPUPipelineLayoutImpl* WGPUPipelineLayout;
typedef struct WGPUQuerySetImpl* WGPUQuerySet;
typedef struct WGPUQueueImpl* WGPUQueue;
typedef struct WGPURenderPassEncoderImpl* WGPURenderPassEncoder;
typedef struct WGPURenderPipelineImpl* WGPURenderPipeline;
typedef struct WGPUSamplerImpl* WGPUSampler;
typedef struct WGPUShaderModuleImpl* WGPUShaderModule;
typedef struct WGPUSurfaceImpl* WGPUSurface;
typedef struct WGPUTextureImpl* WGPUTexture;
typedef struct WGPUTextureViewImpl* WGPUTextureView;

// ---------------------------------------------------------------------------------------------
// Enumerations (only the values ORV names)

typedef enum WGPUSType {
  WGPUSType_ShaderSourceWGSL = 0x00000002,
  WGPUSType_SurfaceSourceXlibWindow = 0x00000006,
  WGPUSType_Force32 = 0x7FFFFFFF
} WGPUSType;

typedef enum WGPUBackendType {
  WGPUBackendType_Undefined = 0x00000000,
  WGPUBackendType_Null = 0x00000001,
  WGPUBackendType_WebGPU = 0x00000002,
  WGPUBackendType_D3D11 = 0x00000003,
  WGPUBackendType_D3D12 = 0x00000004,
  WGPUBackendType_Metal = 0x00000005,
  WGPUBackendType_Vulkan = 0x00000006,
  WGPUBackendType_OpenGL = 0x00000007,
  WGPUBackendType_OpenGLES = 0x00000008,
  WGPUBackendType_Force32 = 0x7FFFFFFF
} WGPUBackendType;

typedef enum WGPUAdapterType {
  WGPUAdapterType_DiscreteGPU = 0x00000001,
  WGPUAdapterType_IntegratedGPU = 0x00000002,
  WGPUAdapterType_CPU = 0x00000003,
  WGPUAdapterType_Unknown = 0x00000004,
  WGPUAdapterType_Force32 = 0x7FFFFFFF
} WGPUAdapterType;

typedef enum WGPUFeatureLevel {
  WGPUFeatureLevel_Undefined = 0x00000000,
  WGPUFeatureLevel_Compatibility = 0x00000001,
  WGPUFeatureLevel_Core = 0x00000002,
  WGPUFeatureLevel_Force32 = 0x7FFFFFFF
} WGPUFeatureLevel;

typedef enum WGPUPowerPreference {
  WGPUPowerPreference_Undefined = 0x00000000,
  WGPUPowerPreference_LowPower = 0x00000001,
  WGPUPowerPreference_HighPerformance = 0x00000002,
  WGPUPowerPreference_Force32 = 0x7FFFFFFF
} WGPUPowerPreference;

typedef enum WGPUCallbackMode {
  WGPUCallbackMode_WaitAnyOnly = 0x00000001,
  WGPUCallbackMode_AllowProcessEvents = 0x00000002,
  WGPUCallbackMode_AllowSpontaneous = 0x00000003,
  WGPUCallbackMode_Force32 = 0x7FFFFFFF
} WGPUCallbackMode;

typedef enum WGPUWaitStatus {
  WGPUWaitStatus_Success = 0x00000001,
  WGPUWaitStatus_TimedOut = 0x00000002,
  WGPUWaitStatus_Force32 = 0x7FFFFFFF
} WGPUWaitStatus;

typedef enum WGPUStatus {
  WGPUStatus_Success = 0x00000001,
  WGPUStatus_Error = 0x00000002,
  WGPUStatus_Force32 = 0x7FFFFFFF
} WGPUStatus;

typedef enum WGPURequestAdapterStatus {
  WGPURequestAdapterStatus_Success = 0x00000001,
  WGPURequestAdapterStatus_CallbackCancelled = 0x00000002,
  WGPURequestAdapterStatus_Unavailable = 0x00000003,
  WGPURequestAdapterStatus_Error = 0x00000004,
  WGPURequestAdapterStatus_Force32 = 0x7FFFFFFF
} WGPURequestAdapterStatus;

typedef enum WGPURequestDeviceStatus {
  WGPURequestDeviceStatus_Success = 0x00000001,
  WGPURequestDeviceStatus_CallbackCancelled = 0x00000002,
  WGPURequestDeviceStatus_Error = 0x00000003,
  WGPURequestDeviceStatus_Force32 = 0x7FFFFFFF
} WGPURequestDeviceStatus;

typedef enum WGPUMapAsyncStatus {
  WGPUMapAsyncStatus_Success = 0x00000001,
  WGPUMapAsyncStatus_CallbackCancelled = 0x00000002,
  WGPUMapAsyncStatus_Error = 0x00000003,
  WGPUMapAsyncStatus_Aborted = 0x00000004,
  WGPUMapAsyncStatus_Force32 = 0x7FFFFFFF
} WGPUMapAsyncStatus;

typedef enum WGPUErrorType {
  WGPUErrorType_NoError = 0x00000001,
  WGPUErrorType_Validation = 0x00000002,
  WGPUErrorType_OutOfMemory = 0x00000003,
  WGPUErrorType_Internal = 0x00000004,
  WGPUErrorType_Unknown = 0x00000005,
  WGPUErrorType_Force32 = 0x7FFFFFFF
} WGPUErrorType;

typedef enum WGPUErrorFilter {
  WGPUErrorFilter_Validation = 0x00000001,
  WGPUErrorFilter_OutOfMemory = 0x00000002,
  WGPUErrorFilter_Internal = 0x00000003,
  WGPUErrorFilter_Force32 = 0x7FFFFFFF
} WGPUErrorFilter;

typedef enum WGPUPopErrorScopeStatus {
  WGPUPopErrorScopeStatus_Success = 0x00000001,
  WGPUPopErrorScopeStatus_CallbackCancelled = 0x00000002,
  WGPUPopErrorScopeStatus_Error = 0x00000003,
  WGPUPopErrorScopeStatus_Force32 = 0x7FFFFFFF
} WGPUPopErrorScopeStatus;

typedef enum WGPUDeviceLostReason {
  WGPUDeviceLostReason_Unknown = 0x00000001,
  WGPUDeviceLostReason_Destroyed = 0x00000002,
  WGPUDeviceLostReason_CallbackCancelled = 0x00000003,
  WGPUDeviceLostReason_FailedCreation = 0x00000004,
  WGPUDeviceLostReason_Force32 = 0x7FFFFFFF
} WGPUDeviceLostReason;

typedef enum WGPUCompilationInfoRequestStatus {
  WGPUCompilationInfoRequestStatus_Success = 0x00000001,
  WGPUCompilationInfoRequestStatus_CallbackCancelled = 0x00000002,
  WGPUCompilationInfoRequestStatus_Force32 = 0x7FFFFFFF
} WGPUCompilationInfoRequestStatus;

typedef enum WGPUCompilationMessageType {
  WGPUCompilationMessageType_Error = 0x00000001,
  WGPUCompilationMessageType_Warning = 0x00000002,
  WGPUCompilationMessageType_Info = 0x00000003,
  WGPUCompilationMessageType_Force32 = 0x7FFFFFFF
} WGPUCompilationMessageType;

typedef enum WGPUBufferBindingType {
  WGPUBufferBindingType_BindingNotUsed = 0x00000000,
  WGPUBufferBindingType_Undefined = 0x00000001,
  WGPUBufferBindingType_Uniform = 0x00000002,
  WGPUBufferBindingType_Storage = 0x00000003,
  WGPUBufferBindingType_ReadOnlyStorage = 0x00000004,
  WGPUBufferBindingType_Force32 = 0x7FFFFFFF
} WGPUBufferBindingType;

typedef enum WGPUSamplerBindingType {
  WGPUSamplerBindingType_BindingNotUsed = 0x00000000,
  WGPUSamplerBindingType_Filtering = 0x00000002,
  WGPUSamplerBindingType_Force32 = 0x7FFFFFFF
} WGPUSamplerBindingType;

typedef enum WGPUTextureSampleType {
  WGPUTextureSampleType_BindingNotUsed = 0x00000000,
  WGPUTextureSampleType_Float = 0x00000002,
  WGPUTextureSampleType_Force32 = 0x7FFFFFFF
} WGPUTextureSampleType;

typedef enum WGPUStorageTextureAccess {
  WGPUStorageTextureAccess_BindingNotUsed = 0x00000000,
  WGPUStorageTextureAccess_Force32 = 0x7FFFFFFF
} WGPUStorageTextureAccess;

typedef enum WGPUTextureFormat {
  WGPUTextureFormat_Undefined = 0x00000000,
  WGPUTextureFormat_RGBA8Unorm = 0x00000012,
  WGPUTextureFormat_RGBA8UnormSrgb = 0x00000013,
  WGPUTextureFormat_BGRA8Unorm = 0x00000017,
  WGPUTextureFormat_BGRA8UnormSrgb = 0x00000018,
  WGPUTextureFormat_Depth32Float = 0x0000002A,
  WGPUTextureFormat_Force32 = 0x7FFFFFFF
} WGPUTextureFormat;

typedef enum WGPUTextureDimension {
  WGPUTextureDimension_Undefined = 0x00000000,
  WGPUTextureDimension_1D = 0x00000001,
  WGPUTextureDimension_2D = 0x00000002,
  WGPUTextureDimension_3D = 0x00000003,
  WGPUTextureDimension_Force32 = 0x7FFFFFFF
} WGPUTextureDimension;

typedef enum WGPUTextureViewDimension {
  WGPUTextureViewDimension_Undefined = 0x00000000,
  WGPUTextureViewDimension_2D = 0x00000002,
  WGPUTextureViewDimension_Force32 = 0x7FFFFFFF
} WGPUTextureViewDimension;

typedef enum WGPUTextureAspect {
  WGPUTextureAspect_Undefined = 0x00000000,
  WGPUTextureAspect_All = 0x00000001,
  WGPUTextureAspect_Force32 = 0x7FFFFFFF
} WGPUTextureAspect;

typedef enum WGPULoadOp {
  WGPULoadOp_Undefined = 0x00000000,
  WGPULoadOp_Load = 0x00000001,
  WGPULoadOp_Clear = 0x00000002,
  WGPULoadOp_Force32 = 0x7FFFFFFF
} WGPULoadOp;

typedef enum WGPUStoreOp {
  WGPUStoreOp_Undefined = 0x00000000,
  WGPUStoreOp_Store = 0x00000001,
  WGPUStoreOp_Discard = 0x00000002,
  WGPUStoreOp_Force32 = 0x7FFFFFFF
} WGPUStoreOp;

typedef enum WGPUPrimitiveTopology {
  WGPUPrimitiveTopology_Undefined = 0x00000000,
  WGPUPrimitiveTopology_PointList = 0x00000001,
  WGPUPrimitiveTopology_LineList = 0x00000002,
  WGPUPrimitiveTopology_LineStrip = 0x00000003,
  WGPUPrimitiveTopology_TriangleList = 0x00000004,
  WGPUPrimitiveTopology_TriangleStrip = 0x00000005,
  WGPUPrimitiveTopology_Force32 = 0x7FFFFFFF
} WGPUPrimitiveTopology;

typedef enum WGPUIndexFormat {
  WGPUIndexFormat_Undefined = 0x00000000,
  WGPUIndexFormat_Uint32 = 0x00000002,
  WGPUIndexFormat_Force32 = 0x7FFFFFFF
} WGPUIndexFormat;

typedef enum WGPUAddressMode {
  WGPUAddressMode_Undefined = 0x00000000,
  WGPUAddressMode_ClampToEdge = 0x00000001,
  WGPUAddressMode_Repeat = 0x00000002,
  WGPUAddressMode_Force32 = 0x7FFFFFFF
} WGPUAddressMode;

typedef enum WGPUFilterMode {
  WGPUFilterMode_Undefined = 0x00000000,
  WGPUFilterMode_Nearest = 0x00000001,
  WGPUFilterMode_Linear = 0x00000002,
  WGPUFilterMode_Force32 = 0x7FFFFFFF
} WGPUFilterMode;

typedef enum WGPUMipmapFilterMode {
  WGPUMipmapFilterMode_Undefined = 0x00000000,
  WGPUMipmapFilterMode_Nearest = 0x00000001,
  WGPUMipmapFilterMode_Linear = 0x00000002,
  WGPUMipmapFilterMode_Force32 = 0x7FFFFFFF
} WGPUMipmapFilterMode;

typedef enum WGPUFrontFace {
  WGPUFrontFace_Undefined = 0x00000000,
  WGPUFrontFace_CCW = 0x00000001,
  WGPUFrontFace_CW = 0x00000002,
  WGPUFrontFace_Force32 = 0x7FFFFFFF
} WGPUFrontFace;

typedef enum WGPUCullMode {
  WGPUCullMode_Undefined = 0x00000000,
  WGPUCullMode_None = 0x00000001,
  WGPUCullMode_Front = 0x00000002,
  WGPUCullMode_Back = 0x00000003,
  WGPUCullMode_Force32 = 0x7FFFFFFF
} WGPUCullMode;

typedef enum WGPUCompareFunction {
  WGPUCompareFunction_Undefined = 0x00000000,
  WGPUCompareFunction_Never = 0x00000001,
  WGPUCompareFunction_Less = 0x00000002,
  WGPUCompareFunction_Always = 0x00000008,
  WGPUCompareFunction_Force32 = 0x7FFFFFFF
} WGPUCompareFunction;

typedef enum WGPUStencilOperation {
  WGPUStencilOperation_Undefined = 0x00000000,
  WGPUStencilOperation_Force32 = 0x7FFFFFFF
} WGPUStencilOperation;

typedef enum WGPUOptionalBool {
  WGPUOptionalBool_False = 0x00000000,
  WGPUOptionalBool_True = 0x00000001,
  WGPUOptionalBool_Undefined = 0x00000002,
  WGPUOptionalBool_Force32 = 0x7FFFFFFF
} WGPUOptionalBool;

typedef enum WGPUVertexFormat {
  WGPUVertexFormat_Float32x2 = 0x0000001D,
  WGPUVertexFormat_Float32x4 = 0x0000001F,
  WGPUVertexFormat_Force32 = 0x7FFFFFFF
} WGPUVertexFormat;

typedef enum WGPUVertexStepMode {
  WGPUVertexStepMode_Undefined = 0x00000000,
  WGPUVertexStepMode_Vertex = 0x00000001,
  WGPUVertexStepMode_Instance = 0x00000002,
  WGPUVertexStepMode_Force32 = 0x7FFFFFFF
} WGPUVertexStepMode;

typedef enum WGPUPresentMode {
  WGPUPresentMode_Undefined = 0x00000000,
  WGPUPresentMode_Fifo = 0x00000001,
  WGPUPresentMode_FifoRelaxed = 0x00000002,
  WGPUPresentMode_Immediate = 0x00000003,
  WGPUPresentMode_Mailbox = 0x00000004,
  WGPUPresentMode_Force32 = 0x7FFFFFFF
} WGPUPresentMode;

typedef enum WGPUCompositeAlphaMode {
  WGPUCompositeAlphaMode_Auto = 0x00000000,
  WGPUCompositeAlphaMode_Opaque = 0x00000001,
  WGPUCompositeAlphaMode_Premultiplied = 0x00000002,
  WGPUCompositeAlphaMode_Unpremultiplied = 0x00000003,
  WGPUCompositeAlphaMode_Inherit = 0x00000004,
  WGPUCompositeAlphaMode_Force32 = 0x7FFFFFFF
} WGPUCompositeAlphaMode;

typedef enum WGPUSurfaceGetCurrentTextureStatus {
  WGPUSurfaceGetCurrentTextureStatus_SuccessOptimal = 0x00000001,
  WGPUSurfaceGetCurrentTextureStatus_SuccessSuboptimal = 0x00000002,
  WGPUSurfaceGetCurrentTextureStatus_Timeout = 0x00000003,
  WGPUSurfaceGetCurrentTextureStatus_Outdated = 0x00000004,
  WGPUSurfaceGetCurrentTextureStatus_Lost = 0x00000005,
  WGPUSurfaceGetCurrentTextureStatus_Error = 0x00000006,
  WGPUSurfaceGetCurrentTextureStatus_Force32 = 0x7FFFFFFF
} WGPUSurfaceGetCurrentTextureStatus;

// ---------------------------------------------------------------------------------------------
// Flags (64-bit)

typedef WGPUFlags WGPUBufferUsage;
static const WGPUBufferUsage WGPUBufferUsage_MapRead = 0x0000000000000001;
static const WGPUBufferUsage WGPUBufferUsage_MapWrite = 0x0000000000000002;
static const WGPUBufferUsage WGPUBufferUsage_CopySrc = 0x0000000000000004;
static const WGPUBufferUsage WGPUBufferUsage_CopyDst = 0x0000000000000008;
static const WGPUBufferUsage WGPUBufferUsage_Index = 0x0000000000000010;
static const WGPUBufferUsage WGPUBufferUsage_Vertex = 0x0000000000000020;
static const WGPUBufferUsage WGPUBufferUsage_Uniform = 0x0000000000000040;
static const WGPUBufferUsage WGPUBufferUsage_Storage = 0x0000000000000080;

typedef WGPUFlags WGPUTextureUsage;
static const WGPUTextureUsage WGPUTextureUsage_CopySrc = 0x0000000000000001;
static const WGPUTextureUsage WGPUTextureUsage_CopyDst = 0x0000000000000002;
static const WGPUTextureUsage WGPUTextureUsage_TextureBinding = 0x0000000000000004;
static const WGPUTextureUsage WGPUTextureUsage_StorageBinding = 0x0000000000000008;
static const WGPUTextureUsage WGPUTextureUsage_RenderAttachment = 0x0000000000000010;

typedef WGPUFlags WGPUShaderStage;
static const WGPUShaderStage WGPUShaderStage_Vertex = 0x0000000000000001;
static const WGPUShaderStage WGPUShaderStage_Fragment = 0x0000000000000002;
static const WGPUShaderStage WGPUShaderStage_Compute = 0x0000000000000004;

typedef WGPUFlags WGPUMapMode;
static const WGPUMapMode WGPUMapMode_Read = 0x0000000000000001;
static const WGPUMapMode WGPUMapMode_Write = 0x0000000000000002;

typedef WGPUFlags WGPUColorWriteMask;
static const WGPUColorWriteMask WGPUColorWriteMask_All = 0x000000000000000F;

// ---------------------------------------------------------------------------------------------
// Structures

typedef struct WGPUStringView {
  char const* data;
  size_t length;
} WGPUStringView;

typedef struct WGPUChainedStruct {
  struct WGPUChainedStruct* next;
  WGPUSType sType;
} WGPUChainedStruct;

typedef struct WGPUFuture {
  uint64_t id;
} WGPUFuture;

typedef struct WGPUFutureWaitInfo {
  WGPUFuture future;
  WGPUBool completed;
} WGPUFutureWaitInfo;

typedef struct WGPUInstanceCapabilities {
  WGPUChainedStruct* nextInChain;
  WGPUBool timedWaitAnyEnable;
  size_t timedWaitAnyMaxCount;
} WGPUInstanceCapabilities;

typedef struct WGPUInstanceDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUInstanceCapabilities capabilities;
} WGPUInstanceDescriptor;

typedef struct WGPURequestAdapterOptions {
  WGPUChainedStruct* nextInChain;
  WGPUFeatureLevel featureLevel;
  WGPUPowerPreference powerPreference;
  WGPUBool forceFallbackAdapter;
  WGPUBackendType backendType;
  WGPUSurface compatibleSurface;
} WGPURequestAdapterOptions;

typedef void (*WGPURequestAdapterCallback)(WGPURequestAdapterStatus status, WGPUAdapter adapter,
                                           WGPUStringView message, void* userdata1,
                                           void* userdata2);

typedef struct WGPURequestAdapterCallbackInfo {
  WGPUChainedStruct* nextInChain;
  WGPUCallbackMode mode;
  WGPURequestAdapterCallback callback;
  void* userdata1;
  void* userdata2;
} WGPURequestAdapterCallbackInfo;

typedef struct WGPUAdapterInfo {
  WGPUChainedStruct* nextInChain;
  WGPUStringView vendor;
  WGPUStringView architecture;
  WGPUStringView device;
  WGPUStringView description;
  WGPUBackendType backendType;
  WGPUAdapterType adapterType;
  uint32_t vendorID;
  uint32_t deviceID;
  uint32_t subgroupMinSize;
  uint32_t subgroupMaxSize;
} WGPUAdapterInfo;

typedef struct WGPULimits {
  WGPUChainedStruct* nextInChain;
  uint32_t maxTextureDimension1D;
  uint32_t maxTextureDimension2D;
  uint32_t maxTextureDimension3D;
  uint32_t maxTextureArrayLayers;
  uint32_t maxBindGroups;
  uint32_t maxBindGroupsPlusVertexBuffers;
  uint32_t maxBindingsPerBindGroup;
  uint32_t maxDynamicUniformBuffersPerPipelineLayout;
  uint32_t maxDynamicStorageBuffersPerPipelineLayout;
  uint32_t maxSampledTexturesPerShaderStage;
  uint32_t maxSamplersPerShaderStage;
  uint32_t maxStorageBuffersPerShaderStage;
  uint32_t maxStorageTexturesPerShaderStage;
  uint32_t maxUniformBuffersPerShaderStage;
  uint64_t maxUniformBufferBindingSize;
  uint64_t maxStorageBufferBindingSize;
  uint32_t minUniformBufferOffsetAlignment;
  uint32_t minStorageBufferOffsetAlignment;
  uint32_t maxVertexBuffers;
  uint64_t maxBufferSize;
  uint32_t maxVertexAttributes;
  uint32_t maxVertexBufferArrayStride;
  uint32_t maxInterStageShaderVariables;
  uint32_t maxColorAttachments;
  uint32_t maxColorAttachmentBytesPerSample;
  uint32_t maxComputeWorkgroupStorageSize;
  uint32_t maxComputeInvocationsPerWorkgroup;
  uint32_t maxComputeWorkgroupSizeX;
  uint32_t maxComputeWorkgroupSizeY;
  uint32_t maxComputeWorkgroupSizeZ;
  uint32_t maxComputeWorkgroupsPerDimension;
  uint32_t maxImmediateSize;
} WGPULimits;

typedef struct WGPUQueueDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
} WGPUQueueDescriptor;

typedef void (*WGPUDeviceLostCallback)(WGPUDevice const* device, WGPUDeviceLostReason reason,
                                       WGPUStringView message, void* userdata1, void* userdata2);

typedef struct WGPUDeviceLostCallbackInfo {
  WGPUChainedStruct* nextInChain;
  WGPUCallbackMode mode;
  WGPUDeviceLostCallback callback;
  void* userdata1;
  void* userdata2;
} WGPUDeviceLostCallbackInfo;

typedef void (*WGPUUncapturedErrorCallback)(WGPUDevice const* device, WGPUErrorType type,
                                            WGPUStringView message, void* userdata1,
                                            void* userdata2);

typedef struct WGPUUncapturedErrorCallbackInfo {
  WGPUChainedStruct* nextInChain;
  WGPUUncapturedErrorCallback callback;
  void* userdata1;
  void* userdata2;
} WGPUUncapturedErrorCallbackInfo;

typedef struct WGPUDeviceDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  size_t requiredFeatureCount;
  uint32_t const* requiredFeatures;  // WGPUFeatureName const*
  WGPULimits const* requiredLimits;
  WGPUQueueDescriptor defaultQueue;
  WGPUDeviceLostCallbackInfo deviceLostCallbackInfo;
  WGPUUncapturedErrorCallbackInfo uncapturedErrorCallbackInfo;
} WGPUDeviceDescriptor;

typedef void (*WGPURequestDeviceCallback)(WGPURequestDeviceStatus status, WGPUDevice device,
                                          WGPUStringView message, void* userdata1, void* userdata2);

typedef struct WGPURequestDeviceCallbackInfo {
  WGPUChainedStruct* nextInChain;
  WGPUCallbackMode mode;
  WGPURequestDeviceCallback callback;
  void* userdata1;
  void* userdata2;
} WGPURequestDeviceCallbackInfo;

typedef void (*WGPUPopErrorScopeCallback)(WGPUPopErrorScopeStatus status, WGPUErrorType type,
                                          WGPUStringView message, void* userdata1, void* userdata2);

typedef struct WGPUPopErrorScopeCallbackInfo {
  WGPUChainedStruct* nextInChain;
  WGPUCallbackMode mode;
  WGPUPopErrorScopeCallback callback;
  void* userdata1;
  void* userdata2;
} WGPUPopErrorScopeCallbackInfo;

typedef struct WGPUBufferDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  WGPUBufferUsage usage;
  uint64_t size;
  WGPUBool mappedAtCreation;
} WGPUBufferDescriptor;

typedef void (*WGPUBufferMapCallback)(WGPUMapAsyncStatus status, WGPUStringView message,
                                      void* userdata1, void* userdata2);

typedef struct WGPUBufferMapCallbackInfo {
  WGPUChainedStruct* nextInChain;
  WGPUCallbackMode mode;
  WGPUBufferMapCallback callback;
  void* userdata1;
  void* userdata2;
} WGPUBufferMapCallbackInfo;

typedef struct WGPUExtent3D {
  uint32_t width;
  uint32_t height;
  uint32_t depthOrArrayLayers;
} WGPUExtent3D;

typedef struct WGPUOrigin3D {
  uint32_t x;
  uint32_t y;
  uint32_t z;
} WGPUOrigin3D;

typedef struct WGPUTextureDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  WGPUTextureUsage usage;
  WGPUTextureDimension dimension;
  WGPUExtent3D size;
  WGPUTextureFormat format;
  uint32_t mipLevelCount;
  uint32_t sampleCount;
  size_t viewFormatCount;
  WGPUTextureFormat const* viewFormats;
} WGPUTextureDescriptor;

typedef struct WGPUSamplerDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  WGPUAddressMode addressModeU;
  WGPUAddressMode addressModeV;
  WGPUAddressMode addressModeW;
  WGPUFilterMode magFilter;
  WGPUFilterMode minFilter;
  WGPUMipmapFilterMode mipmapFilter;
  float lodMinClamp;
  float lodMaxClamp;
  WGPUCompareFunction compare;
  uint16_t maxAnisotropy;
} WGPUSamplerDescriptor;

typedef struct WGPUTextureViewDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  WGPUTextureFormat format;
  WGPUTextureViewDimension dimension;
  uint32_t baseMipLevel;
  uint32_t mipLevelCount;
  uint32_t baseArrayLayer;
  uint32_t arrayLayerCount;
  WGPUTextureAspect aspect;
  WGPUTextureUsage usage;
} WGPUTextureViewDescriptor;

typedef struct WGPUShaderModuleDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
} WGPUShaderModuleDescriptor;

// Chained into WGPUShaderModuleDescriptor with sType ShaderSourceWGSL. (Not described by the
// library's DWARF; its layout is a chained header followed by one string view.)
typedef struct WGPUShaderSourceWGSL {
  WGPUChainedStruct chain;
  WGPUStringView code;
} WGPUShaderSourceWGSL;

// Not described by the library's DWARF either; the test of compilation messages checks that
// line and column arrive where a known error is.
typedef struct WGPUCompilationMessage {
  WGPUChainedStruct* nextInChain;
  WGPUStringView message;
  WGPUCompilationMessageType type;
  uint64_t lineNum;
  uint64_t linePos;
  uint64_t offset;
  uint64_t length;
} WGPUCompilationMessage;

typedef struct WGPUCompilationInfo {
  WGPUChainedStruct* nextInChain;
  size_t messageCount;
  WGPUCompilationMessage const* messages;
} WGPUCompilationInfo;

typedef void (*WGPUCompilationInfoCallback)(WGPUCompilationInfoRequestStatus status,
                                            WGPUCompilationInfo const* compilationInfo,
                                            void* userdata1, void* userdata2);

typedef struct WGPUCompilationInfoCallbackInfo {
  WGPUChainedStruct* nextInChain;
  WGPUCallbackMode mode;
  WGPUCompilationInfoCallback callback;
  void* userdata1;
  void* userdata2;
} WGPUCompilationInfoCallbackInfo;

typedef struct WGPUBufferBindingLayout {
  WGPUChainedStruct* nextInChain;
  WGPUBufferBindingType type;
  WGPUBool hasDynamicOffset;
  uint64_t minBindingSize;
} WGPUBufferBindingLayout;

typedef struct WGPUSamplerBindingLayout {
  WGPUChainedStruct* nextInChain;
  WGPUSamplerBindingType type;
} WGPUSamplerBindingLayout;

typedef struct WGPUTextureBindingLayout {
  WGPUChainedStruct* nextInChain;
  WGPUTextureSampleType sampleType;
  WGPUTextureViewDimension viewDimension;
  WGPUBool multisampled;
} WGPUTextureBindingLayout;

typedef struct WGPUStorageTextureBindingLayout {
  WGPUChainedStruct* nextInChain;
  WGPUStorageTextureAccess access;
  WGPUTextureFormat format;
  WGPUTextureViewDimension viewDimension;
} WGPUStorageTextureBindingLayout;

typedef struct WGPUBindGroupLayoutEntry {
  WGPUChainedStruct* nextInChain;
  uint32_t binding;
  WGPUShaderStage visibility;
  uint32_t bindingArraySize;
  WGPUBufferBindingLayout buffer;
  WGPUSamplerBindingLayout sampler;
  WGPUTextureBindingLayout texture;
  WGPUStorageTextureBindingLayout storageTexture;
} WGPUBindGroupLayoutEntry;

typedef struct WGPUBindGroupLayoutDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  size_t entryCount;
  WGPUBindGroupLayoutEntry const* entries;
} WGPUBindGroupLayoutDescriptor;

typedef struct WGPUBindGroupEntry {
  WGPUChainedStruct* nextInChain;
  uint32_t binding;
  WGPUBuffer buffer;
  uint64_t offset;
  uint64_t size;
  WGPUSampler sampler;
  WGPUTextureView textureView;
} WGPUBindGroupEntry;

typedef struct WGPUBindGroupDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  WGPUBindGroupLayout layout;
  size_t entryCount;
  WGPUBindGroupEntry const* entries;
} WGPUBindGroupDescriptor;

typedef struct WGPUPipelineLayoutDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  size_t bindGroupLayoutCount;
  WGPUBindGroupLayout const* bindGroupLayouts;
  uint32_t immediateSize;
} WGPUPipelineLayoutDescriptor;

typedef struct WGPUConstantEntry {
  WGPUChainedStruct* nextInChain;
  WGPUStringView key;
  double value;
} WGPUConstantEntry;

typedef struct WGPUComputeState {
  WGPUChainedStruct* nextInChain;
  WGPUShaderModule module;
  WGPUStringView entryPoint;
  size_t constantCount;
  WGPUConstantEntry const* constants;
} WGPUComputeState;

typedef struct WGPUComputePipelineDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  WGPUPipelineLayout layout;
  WGPUComputeState compute;
} WGPUComputePipelineDescriptor;

typedef struct WGPUVertexAttribute {
  WGPUChainedStruct* nextInChain;
  WGPUVertexFormat format;
  uint64_t offset;
  uint32_t shaderLocation;
} WGPUVertexAttribute;

typedef struct WGPUVertexBufferLayout {
  WGPUChainedStruct* nextInChain;
  WGPUVertexStepMode stepMode;
  uint64_t arrayStride;
  size_t attributeCount;
  WGPUVertexAttribute const* attributes;
} WGPUVertexBufferLayout;

typedef struct WGPUVertexState {
  WGPUChainedStruct* nextInChain;
  WGPUShaderModule module;
  WGPUStringView entryPoint;
  size_t constantCount;
  WGPUConstantEntry const* constants;
  size_t bufferCount;
  WGPUVertexBufferLayout const* buffers;
} WGPUVertexState;

typedef struct WGPUPrimitiveState {
  WGPUChainedStruct* nextInChain;
  WGPUPrimitiveTopology topology;
  WGPUIndexFormat stripIndexFormat;
  WGPUFrontFace frontFace;
  WGPUCullMode cullMode;
  WGPUBool unclippedDepth;
} WGPUPrimitiveState;

typedef struct WGPUStencilFaceState {
  WGPUCompareFunction compare;
  WGPUStencilOperation failOp;
  WGPUStencilOperation depthFailOp;
  WGPUStencilOperation passOp;
} WGPUStencilFaceState;

typedef struct WGPUDepthStencilState {
  WGPUChainedStruct* nextInChain;
  WGPUTextureFormat format;
  WGPUOptionalBool depthWriteEnabled;
  WGPUCompareFunction depthCompare;
  WGPUStencilFaceState stencilFront;
  WGPUStencilFaceState stencilBack;
  uint32_t stencilReadMask;
  uint32_t stencilWriteMask;
  int32_t depthBias;
  float depthBiasSlopeScale;
  float depthBiasClamp;
} WGPUDepthStencilState;

typedef struct WGPUMultisampleState {
  WGPUChainedStruct* nextInChain;
  uint32_t count;
  uint32_t mask;
  WGPUBool alphaToCoverageEnabled;
} WGPUMultisampleState;

typedef enum WGPUBlendOperation {
  WGPUBlendOperation_Undefined = 0x00000000,
  WGPUBlendOperation_Add = 0x00000001,
  WGPUBlendOperation_Force32 = 0x7FFFFFFF
} WGPUBlendOperation;

typedef enum WGPUBlendFactor {
  WGPUBlendFactor_Undefined = 0x00000000,
  WGPUBlendFactor_Zero = 0x00000001,
  WGPUBlendFactor_One = 0x00000002,
  WGPUBlendFactor_SrcAlpha = 0x00000005,
  WGPUBlendFactor_OneMinusSrcAlpha = 0x00000006,
  WGPUBlendFactor_Force32 = 0x7FFFFFFF
} WGPUBlendFactor;

typedef struct WGPUBlendComponent {
  WGPUBlendOperation operation;
  WGPUBlendFactor srcFactor;
  WGPUBlendFactor dstFactor;
} WGPUBlendComponent;

typedef struct WGPUBlendState {
  WGPUBlendComponent color;
  WGPUBlendComponent alpha;
} WGPUBlendState;

typedef struct WGPUColorTargetState {
  WGPUChainedStruct* nextInChain;
  WGPUTextureFormat format;
  WGPUBlendState const* blend;
  WGPUColorWriteMask writeMask;
} WGPUColorTargetState;

typedef struct WGPUFragmentState {
  WGPUChainedStruct* nextInChain;
  WGPUShaderModule module;
  WGPUStringView entryPoint;
  size_t constantCount;
  WGPUConstantEntry const* constants;
  size_t targetCount;
  WGPUColorTargetState const* targets;
} WGPUFragmentState;

typedef struct WGPURenderPipelineDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  WGPUPipelineLayout layout;
  WGPUVertexState vertex;
  WGPUPrimitiveState primitive;
  WGPUDepthStencilState const* depthStencil;
  WGPUMultisampleState multisample;
  WGPUFragmentState const* fragment;
} WGPURenderPipelineDescriptor;

typedef struct WGPUCommandEncoderDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
} WGPUCommandEncoderDescriptor;

typedef struct WGPUCommandBufferDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
} WGPUCommandBufferDescriptor;

typedef struct WGPUPassTimestampWrites {
  WGPUChainedStruct* nextInChain;
  WGPUQuerySet querySet;
  uint32_t beginningOfPassWriteIndex;
  uint32_t endOfPassWriteIndex;
} WGPUPassTimestampWrites;

typedef struct WGPUComputePassDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  WGPUPassTimestampWrites const* timestampWrites;
} WGPUComputePassDescriptor;

typedef struct WGPUColor {
  double r;
  double g;
  double b;
  double a;
} WGPUColor;

typedef struct WGPURenderPassColorAttachment {
  WGPUChainedStruct* nextInChain;
  WGPUTextureView view;
  uint32_t depthSlice;
  WGPUTextureView resolveTarget;
  WGPULoadOp loadOp;
  WGPUStoreOp storeOp;
  WGPUColor clearValue;
} WGPURenderPassColorAttachment;

typedef struct WGPURenderPassDepthStencilAttachment {
  WGPUChainedStruct* nextInChain;
  WGPUTextureView view;
  WGPULoadOp depthLoadOp;
  WGPUStoreOp depthStoreOp;
  float depthClearValue;
  WGPUBool depthReadOnly;
  WGPULoadOp stencilLoadOp;
  WGPUStoreOp stencilStoreOp;
  uint32_t stencilClearValue;
  WGPUBool stencilReadOnly;
} WGPURenderPassDepthStencilAttachment;

typedef struct WGPURenderPassDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
  size_t colorAttachmentCount;
  WGPURenderPassColorAttachment const* colorAttachments;
  WGPURenderPassDepthStencilAttachment const* depthStencilAttachment;
  WGPUQuerySet occlusionQuerySet;
  WGPUPassTimestampWrites const* timestampWrites;
} WGPURenderPassDescriptor;

typedef struct WGPUTexelCopyBufferLayout {
  uint64_t offset;
  uint32_t bytesPerRow;
  uint32_t rowsPerImage;
} WGPUTexelCopyBufferLayout;

typedef struct WGPUTexelCopyBufferInfo {
  WGPUTexelCopyBufferLayout layout;
  WGPUBuffer buffer;
} WGPUTexelCopyBufferInfo;

typedef struct WGPUTexelCopyTextureInfo {
  WGPUTexture texture;
  uint32_t mipLevel;
  WGPUOrigin3D origin;
  WGPUTextureAspect aspect;
} WGPUTexelCopyTextureInfo;

typedef struct WGPUSurfaceDescriptor {
  WGPUChainedStruct* nextInChain;
  WGPUStringView label;
} WGPUSurfaceDescriptor;

// Chained into WGPUSurfaceDescriptor with sType SurfaceSourceXlibWindow: an Xlib `Display*` and
// the X11 `Window` (an XID) to present to. (Not described by the library's DWARF: no function of
// the wrapper names it. The layout is a chained header, a pointer and a 64-bit id, 32 bytes; the
// SType value is the one the library's own table holds for this struct.)
typedef struct WGPUSurfaceSourceXlibWindow {
  WGPUChainedStruct chain;
  void* display;
  uint64_t window;
} WGPUSurfaceSourceXlibWindow;

typedef struct WGPUSurfaceConfiguration {
  WGPUChainedStruct* nextInChain;
  WGPUDevice device;
  WGPUTextureFormat format;
  WGPUTextureUsage usage;
  uint32_t width;
  uint32_t height;
  size_t viewFormatCount;
  WGPUTextureFormat const* viewFormats;
  WGPUCompositeAlphaMode alphaMode;
  WGPUPresentMode presentMode;
} WGPUSurfaceConfiguration;

// Filled by wgpuSurfaceGetCapabilities; the arrays belong to the library until
// wgpuSurfaceCapabilitiesFreeMembers.
typedef struct WGPUSurfaceCapabilities {
  WGPUChainedStruct* nextInChain;
  WGPUTextureUsage usages;
  size_t formatCount;
  WGPUTextureFormat const* formats;
  size_t presentModeCount;
  WGPUPresentMode const* presentModes;
  size_t alphaModeCount;
  WGPUCompositeAlphaMode const* alphaModes;
} WGPUSurfaceCapabilities;

typedef struct WGPUSurfaceTexture {
  WGPUChainedStruct* nextInChain;
  WGPUTexture texture;
  WGPUSurfaceGetCurrentTextureStatus status;
} WGPUSurfaceTexture;

// ---------------------------------------------------------------------------------------------
// Functions

WGPUInstance wgpuCreateInstance(WGPUInstanceDescriptor const* descriptor);
WGPUFuture wgpuInstanceRequestAdapter(WGPUInstance instance,
                                      WGPURequestAdapterOptions const* options,
                                      WGPURequestAdapterCallbackInfo callbackInfo);
WGPUWaitStatus wgpuInstanceWaitAny(WGPUInstance instance, size_t futureCount,
                                   WGPUFutureWaitInfo* futures, uint64_t timeoutNS);
void wgpuInstanceProcessEvents(WGPUInstance instance);
WGPUSurface wgpuInstanceCreateSurface(WGPUInstance instance,
                                      WGPUSurfaceDescriptor const* descriptor);
void wgpuInstanceRelease(WGPUInstance instance);

WGPUStatus wgpuAdapterGetInfo(WGPUAdapter adapter, WGPUAdapterInfo* info);
void wgpuAdapterInfoFreeMembers(WGPUAdapterInfo adapterInfo);
WGPUFuture wgpuAdapterRequestDevice(WGPUAdapter adapter, WGPUDeviceDescriptor const* descriptor,
                                    WGPURequestDeviceCallbackInfo callbackInfo);
void wgpuAdapterRelease(WGPUAdapter adapter);

WGPUStatus wgpuDeviceGetLimits(WGPUDevice device, WGPULimits* limits);
WGPUQueue wgpuDeviceGetQueue(WGPUDevice device);
WGPUBuffer wgpuDeviceCreateBuffer(WGPUDevice device, WGPUBufferDescriptor const* descriptor);
WGPUTexture wgpuDeviceCreateTexture(WGPUDevice device, WGPUTextureDescriptor const* descriptor);
WGPUShaderModule wgpuDeviceCreateShaderModule(WGPUDevice device,
                                              WGPUShaderModuleDescriptor const* descriptor);
WGPUBindGroupLayout wgpuDeviceCreateBindGroupLayout(
    WGPUDevice device, WGPUBindGroupLayoutDescriptor const* descriptor);
WGPUBindGroup wgpuDeviceCreateBindGroup(WGPUDevice device,
                                        WGPUBindGroupDescriptor const* descriptor);
WGPUPipelineLayout wgpuDeviceCreatePipelineLayout(WGPUDevice device,
                                                  WGPUPipelineLayoutDescriptor const* descriptor);
WGPUComputePipeline wgpuDeviceCreateComputePipeline(
    WGPUDevice device, WGPUComputePipelineDescriptor const* descriptor);
WGPURenderPipeline wgpuDeviceCreateRenderPipeline(WGPUDevice device,
                                                  WGPURenderPipelineDescriptor const* descriptor);
WGPUCommandEncoder wgpuDeviceCreateCommandEncoder(WGPUDevice device,
                                                  WGPUCommandEncoderDescriptor const* descriptor);
void wgpuDevicePushErrorScope(WGPUDevice device, WGPUErrorFilter filter);
WGPUFuture wgpuDevicePopErrorScope(WGPUDevice device, WGPUPopErrorScopeCallbackInfo callbackInfo);
void wgpuDeviceDestroy(WGPUDevice device);
void wgpuDeviceRelease(WGPUDevice device);

void wgpuQueueSubmit(WGPUQueue queue, size_t commandCount, WGPUCommandBuffer const* commands);
void wgpuQueueWriteBuffer(WGPUQueue queue, WGPUBuffer buffer, uint64_t bufferOffset,
                          void const* data, size_t size);
void wgpuQueueWriteTexture(WGPUQueue queue, WGPUTexelCopyTextureInfo const* destination,
                           void const* data, size_t dataSize,
                           WGPUTexelCopyBufferLayout const* dataLayout,
                           WGPUExtent3D const* writeSize);
void wgpuQueueRelease(WGPUQueue queue);

WGPUFuture wgpuBufferMapAsync(WGPUBuffer buffer, WGPUMapMode mode, size_t offset, size_t size,
                              WGPUBufferMapCallbackInfo callbackInfo);
void const* wgpuBufferGetConstMappedRange(WGPUBuffer buffer, size_t offset, size_t size);
void wgpuBufferUnmap(WGPUBuffer buffer);
void wgpuBufferDestroy(WGPUBuffer buffer);
void wgpuBufferRelease(WGPUBuffer buffer);

WGPUTextureView wgpuTextureCreateView(WGPUTexture texture,
                                      WGPUTextureViewDescriptor const* descriptor);
WGPUSampler wgpuDeviceCreateSampler(WGPUDevice device, WGPUSamplerDescriptor const* descriptor);
void wgpuSamplerRelease(WGPUSampler sampler);
void wgpuTextureDestroy(WGPUTexture texture);
void wgpuTextureRelease(WGPUTexture texture);
void wgpuTextureViewRelease(WGPUTextureView textureView);

WGPUFuture wgpuShaderModuleGetCompilationInfo(WGPUShaderModule shaderModule,
                                              WGPUCompilationInfoCallbackInfo callbackInfo);
void wgpuShaderModuleRelease(WGPUShaderModule shaderModule);
void wgpuBindGroupLayoutRelease(WGPUBindGroupLayout bindGroupLayout);
void wgpuBindGroupRelease(WGPUBindGroup bindGroup);
void wgpuPipelineLayoutRelease(WGPUPipelineLayout pipelineLayout);
void wgpuComputePipelineAddRef(WGPUComputePipeline computePipeline);
void wgpuComputePipelineRelease(WGPUComputePipeline computePipeline);
void wgpuRenderPipelineRelease(WGPURenderPipeline renderPipeline);

WGPUComputePassEncoder wgpuCommandEncoderBeginComputePass(
    WGPUCommandEncoder commandEncoder, WGPUComputePassDescriptor const* descriptor);
WGPURenderPassEncoder wgpuCommandEncoderBeginRenderPass(WGPUCommandEncoder commandEncoder,
                                                        WGPURenderPassDescriptor const* descriptor);
void wgpuCommandEncoderCopyBufferToBuffer(WGPUCommandEncoder commandEncoder, WGPUBuffer source,
                                          uint64_t sourceOffset, WGPUBuffer destination,
                                          uint64_t destinationOffset, uint64_t size);
void wgpuCommandEncoderCopyTextureToBuffer(WGPUCommandEncoder commandEncoder,
                                           WGPUTexelCopyTextureInfo const* source,
                                           WGPUTexelCopyBufferInfo const* destination,
                                           WGPUExtent3D const* copySize);
WGPUCommandBuffer wgpuCommandEncoderFinish(WGPUCommandEncoder commandEncoder,
                                           WGPUCommandBufferDescriptor const* descriptor);
void wgpuCommandEncoderRelease(WGPUCommandEncoder commandEncoder);
void wgpuCommandBufferRelease(WGPUCommandBuffer commandBuffer);

void wgpuComputePassEncoderSetPipeline(WGPUComputePassEncoder computePassEncoder,
                                       WGPUComputePipeline pipeline);
void wgpuComputePassEncoderSetBindGroup(WGPUComputePassEncoder computePassEncoder,
                                        uint32_t groupIndex, WGPUBindGroup group,
                                        size_t dynamicOffsetCount, uint32_t const* dynamicOffsets);
void wgpuComputePassEncoderDispatchWorkgroups(WGPUComputePassEncoder computePassEncoder,
                                              uint32_t workgroupCountX, uint32_t workgroupCountY,
                                              uint32_t workgroupCountZ);
void wgpuComputePassEncoderEnd(WGPUComputePassEncoder computePassEncoder);
void wgpuComputePassEncoderRelease(WGPUComputePassEncoder computePassEncoder);

void wgpuRenderPassEncoderSetPipeline(WGPURenderPassEncoder renderPassEncoder,
                                      WGPURenderPipeline pipeline);
void wgpuRenderPassEncoderSetBindGroup(WGPURenderPassEncoder renderPassEncoder, uint32_t groupIndex,
                                       WGPUBindGroup group, size_t dynamicOffsetCount,
                                       uint32_t const* dynamicOffsets);
void wgpuRenderPassEncoderDraw(WGPURenderPassEncoder renderPassEncoder, uint32_t vertexCount,
                               uint32_t instanceCount, uint32_t firstVertex,
                               uint32_t firstInstance);
void wgpuRenderPassEncoderSetIndexBuffer(WGPURenderPassEncoder renderPassEncoder,
                                         WGPUBuffer buffer, WGPUIndexFormat format,
                                         uint64_t offset, uint64_t size);
void wgpuRenderPassEncoderDrawIndexed(WGPURenderPassEncoder renderPassEncoder,
                                      uint32_t indexCount, uint32_t instanceCount,
                                      uint32_t firstIndex, int32_t baseVertex,
                                      uint32_t firstInstance);
void wgpuRenderPassEncoderEnd(WGPURenderPassEncoder renderPassEncoder);
void wgpuRenderPassEncoderRelease(WGPURenderPassEncoder renderPassEncoder);

// A surface that cannot be configured, or a texture that cannot be had, is reported as a device
// error (validation) or through the texture's status; `wgpuSurfaceGetCapabilities` returns an
// error status for an adapter that cannot present to the surface.
WGPUStatus wgpuSurfaceGetCapabilities(WGPUSurface surface, WGPUAdapter adapter,
                                      WGPUSurfaceCapabilities* capabilities);
void wgpuSurfaceCapabilitiesFreeMembers(WGPUSurfaceCapabilities surfaceCapabilities);
void wgpuSurfaceConfigure(WGPUSurface surface, WGPUSurfaceConfiguration const* config);
void wgpuSurfaceUnconfigure(WGPUSurface surface);
void wgpuSurfaceGetCurrentTexture(WGPUSurface surface, WGPUSurfaceTexture* surfaceTexture);
void wgpuSurfacePresent(WGPUSurface surface);
void wgpuSurfaceRelease(WGPUSurface surface);

// NOLINTEND(modernize-use-using)

#ifdef __cplusplus
}  // extern "C"
#endif

// ---------------------------------------------------------------------------------------------
// Layouts of this build, from the library's DWARF. A mismatch would make the library read our
// structs wrongly; these fail the build instead.

#ifdef __cplusplus
#define ORV_WGPU_LAYOUT(type, size) static_assert(sizeof(type) == (size), #type " size")
#define ORV_WGPU_OFFSET(type, member, at) \
  static_assert(offsetof(type, member) == (at), #type "." #member " offset")
#else
#define ORV_WGPU_LAYOUT(type, size) _Static_assert(sizeof(type) == (size), #type " size")
#define ORV_WGPU_OFFSET(type, member, at) \
  _Static_assert(offsetof(type, member) == (at), #type "." #member " offset")
#endif

#include "webgpu/webgpu_layout.inc"

// Structs that the library's DWARF does not describe (no function of the wrapper names them):
// the standard layouts, relied on for shader source, compilation messages and the X11 surface
// source. The shader tests check that a known error arrives with its line and column, which these
// offsets carry; the window tests present through a surface made from the Xlib source.
ORV_WGPU_LAYOUT(WGPUShaderSourceWGSL, 32);
ORV_WGPU_OFFSET(WGPUShaderSourceWGSL, code, 16);
ORV_WGPU_LAYOUT(WGPUCompilationMessage, 64);
ORV_WGPU_OFFSET(WGPUCompilationMessage, message, 8);
ORV_WGPU_OFFSET(WGPUCompilationMessage, type, 24);
ORV_WGPU_OFFSET(WGPUCompilationMessage, lineNum, 32);
ORV_WGPU_OFFSET(WGPUCompilationMessage, linePos, 40);
ORV_WGPU_LAYOUT(WGPUCompilationInfo, 24);
ORV_WGPU_OFFSET(WGPUCompilationInfo, messages, 16);
ORV_WGPU_LAYOUT(WGPUSurfaceSourceXlibWindow, 32);
ORV_WGPU_OFFSET(WGPUSurfaceSourceXlibWindow, display, 16);
ORV_WGPU_OFFSET(WGPUSurfaceSourceXlibWindow, window, 24);

#endif  // ORV_WEBGPU_WEBGPU_H_
