// Dear ImGui renderer back end for Direct3D 8, after Dear ImGui 1.86's Direct3D 9 back end.
//
// [X] user textures: an IDirect3DTexture8* is the ImTextureID
// [X] large meshes (64k+ vertices) with 16-bit indices: the base vertex goes through SetIndices
// [X] device loss: vertex and index buffers live in the default pool and are dropped by
//     InvalidateDeviceObjects; NewFrame makes the font texture again when it is missing
// [X] a rebuilt font atlas: DestroyFontsTexture and CreateFontsTexture between frames; the font
//     texture is A8L8 where the device has it (white, the glyphs' coverage as alpha)
// [X] the caller's device state is captured in a state block and restored after drawing
// [ ] scissor rectangles: Direct3D 8 has none. Each draw command gets a viewport of its clipping
//     rectangle and a projection that maps that rectangle onto it, which clips the same way.
#include "ui/win32/imgui_impl_dx8.h"

#include <cstring>

#include <d3d8.h>
#include <imgui.h>

namespace {

struct BackendData {
    IDirect3DDevice8* device = nullptr;
    IDirect3DVertexBuffer8* vertexBuffer = nullptr;
    IDirect3DIndexBuffer8* indexBuffer = nullptr;
    IDirect3DTexture8* fontTexture = nullptr;
    int vertexBufferSize = 5000;
    int indexBufferSize = 10000;
};

struct Vertex {
    float pos[3];
    D3DCOLOR col;
    float uv[2];
};
constexpr DWORD vertexFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Dear ImGui packs colours as ABGR, Direct3D as ARGB.
D3DCOLOR toArgb(ImU32 colour) {
    return (colour & 0xFF00FF00u) | ((colour & 0xFF0000u) >> 16) | ((colour & 0xFFu) << 16);
}

BackendData* backendData() {
    return ImGui::GetCurrentContext() != nullptr
               ? static_cast<BackendData*>(ImGui::GetIO().BackendRendererUserData)
               : nullptr;
}

template <typename T> void release(T*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// A projection that maps the display area from (left, top), `width` x `height` pixels, onto the
// current viewport, with Direct3D's half-pixel offset.
void setProjection(IDirect3DDevice8* device, float left, float top, float width, float height) {
    const float l = left + 0.5f;
    const float r = left + width + 0.5f;
    const float t = top + 0.5f;
    const float b = top + height + 0.5f;
    const D3DMATRIX projection = {{{2.0f / (r - l), 0.0f, 0.0f, 0.0f, 0.0f, 2.0f / (t - b), 0.0f, 0.0f, 0.0f,
                                    0.0f, 0.5f, 0.0f, (l + r) / (l - r), (t + b) / (b - t), 0.5f, 1.0f}}};
    device->SetTransform(D3DTS_PROJECTION, &projection);
}

void setupRenderState(IDirect3DDevice8* device, const ImDrawData* drawData) {
    D3DVIEWPORT8 viewport{
        0,    0,   static_cast<DWORD>(drawData->DisplaySize.x), static_cast<DWORD>(drawData->DisplaySize.y),
        0.0f, 1.0f};
    device->SetViewport(&viewport);

    // Fixed function, alpha blending, no culling, no depth, Gouraud shading for the gradients.
    device->SetPixelShader(0);
    device->SetVertexShader(vertexFormat);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_RANGEFOGENABLE, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    device->SetRenderState(D3DRS_CLIPPING, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    // Direct3D 8 keeps the sampler settings among the texture stage states.
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);

    const D3DMATRIX identity = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
    device->SetTransform(D3DTS_WORLD, &identity);
    device->SetTransform(D3DTS_VIEW, &identity);
    setProjection(device, drawData->DisplayPos.x, drawData->DisplayPos.y, drawData->DisplaySize.x,
                  drawData->DisplaySize.y);
}

bool growBuffers(BackendData& bd, const ImDrawData* drawData) {
    if (bd.vertexBuffer == nullptr || bd.vertexBufferSize < drawData->TotalVtxCount) {
        release(bd.vertexBuffer);
        bd.vertexBufferSize = drawData->TotalVtxCount + 5000;
        if (bd.device->CreateVertexBuffer(static_cast<UINT>(bd.vertexBufferSize * sizeof(Vertex)),
                                          D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, vertexFormat,
                                          D3DPOOL_DEFAULT, &bd.vertexBuffer) < 0)
            return false;
    }
    if (bd.indexBuffer == nullptr || bd.indexBufferSize < drawData->TotalIdxCount) {
        release(bd.indexBuffer);
        bd.indexBufferSize = drawData->TotalIdxCount + 10000;
        if (bd.device->CreateIndexBuffer(static_cast<UINT>(bd.indexBufferSize * sizeof(ImDrawIdx)),
                                         D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                         sizeof(ImDrawIdx) == 2 ? D3DFMT_INDEX16 : D3DFMT_INDEX32,
                                         D3DPOOL_DEFAULT, &bd.indexBuffer) < 0)
            return false;
    }
    return true;
}

// All lists into the one vertex and index buffer, colours converted to Direct3D's order.
bool fillBuffers(BackendData& bd, const ImDrawData* drawData) {
    BYTE* vertexBytes = nullptr;
    BYTE* indexBytes = nullptr;
    if (bd.vertexBuffer->Lock(0, static_cast<UINT>(drawData->TotalVtxCount * sizeof(Vertex)), &vertexBytes,
                              D3DLOCK_DISCARD) < 0)
        return false;
    if (bd.indexBuffer->Lock(0, static_cast<UINT>(drawData->TotalIdxCount * sizeof(ImDrawIdx)), &indexBytes,
                             D3DLOCK_DISCARD) < 0) {
        bd.vertexBuffer->Unlock();
        return false;
    }
    auto* vertex = reinterpret_cast<Vertex*>(vertexBytes);
    auto* index = reinterpret_cast<ImDrawIdx*>(indexBytes);
    for (int n = 0; n < drawData->CmdListsCount; ++n) {
        const ImDrawList* list = drawData->CmdLists[n];
        for (const ImDrawVert& source : list->VtxBuffer) {
            *vertex++ =
                Vertex{{source.pos.x, source.pos.y, 0.0f}, toArgb(source.col), {source.uv.x, source.uv.y}};
        }
        std::memcpy(index, list->IdxBuffer.Data,
                    static_cast<std::size_t>(list->IdxBuffer.Size) * sizeof(ImDrawIdx));
        index += list->IdxBuffer.Size;
    }
    bd.vertexBuffer->Unlock();
    bd.indexBuffer->Unlock();
    return true;
}

// Whether textures can be A8L8: white (luminance 255) with the glyphs' coverage as alpha, in half
// the bytes of A8R8G8B8.
bool hasLuminanceAlpha(IDirect3DDevice8* device) {
    IDirect3D8* direct3d = nullptr;
    if (device->GetDirect3D(&direct3d) < 0) return false;
    D3DDEVICE_CREATION_PARAMETERS creation{};
    D3DDISPLAYMODE mode{};
    const bool has = device->GetCreationParameters(&creation) >= 0 && device->GetDisplayMode(&mode) >= 0 &&
                     direct3d->CheckDeviceFormat(creation.AdapterOrdinal, creation.DeviceType, mode.Format, 0,
                                                 D3DRTYPE_TEXTURE, D3DFMT_A8L8) >= 0;
    release(direct3d);
    return has;
}

// The atlas's glyphs carry coverage only (stb_truetype draws no colour), so the texture is filled
// from its one byte a pixel, without the library's 32-bit copy.
bool createFontsTexture(BackendData& bd) {
    ImGuiIO& io = ImGui::GetIO();
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    io.Fonts->GetTexDataAsAlpha8(&pixels, &width, &height);
    const bool luminance = hasLuminanceAlpha(bd.device);
    // The managed pool keeps a copy of its own, so the texture needs no dynamic usage to be filled.
    if (bd.device->CreateTexture(static_cast<UINT>(width), static_cast<UINT>(height), 1, 0,
                                 luminance ? D3DFMT_A8L8 : D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                 &bd.fontTexture) < 0)
        return false;
    D3DLOCKED_RECT locked{};
    if (bd.fontTexture->LockRect(0, &locked, nullptr, 0) != D3D_OK) {
        release(bd.fontTexture);
        return false;
    }
    for (int y = 0; y < height; ++y) {
        const unsigned char* source = pixels + static_cast<std::size_t>(width) * y;
        BYTE* row = static_cast<BYTE*>(locked.pBits) + static_cast<std::size_t>(locked.Pitch) * y;
        if (luminance) {
            auto* target = reinterpret_cast<WORD*>(row);
            for (int x = 0; x < width; ++x) target[x] = static_cast<WORD>(source[x] << 8 | 0xFF);
        } else {
            auto* target = reinterpret_cast<D3DCOLOR*>(row);
            for (int x = 0; x < width; ++x) target[x] = static_cast<D3DCOLOR>(source[x]) << 24 | 0x00FFFFFF;
        }
    }
    bd.fontTexture->UnlockRect(0);
    io.Fonts->SetTexID(static_cast<ImTextureID>(bd.fontTexture));
    return true;
}

} // namespace

void ImGui_ImplDX8_RenderDrawData(ImDrawData* drawData) {
    // Nothing to draw into while minimised.
    if (drawData->DisplaySize.x <= 0.0f || drawData->DisplaySize.y <= 0.0f) return;
    BackendData* bd = backendData();
    if (bd == nullptr || bd->device == nullptr) return;
    if (!growBuffers(*bd, drawData)) return;

    DWORD stateBlock = 0;
    if (bd->device->CreateStateBlock(D3DSBT_ALL, &stateBlock) < 0) return;
    D3DMATRIX lastWorld;
    D3DMATRIX lastView;
    D3DMATRIX lastProjection;
    D3DVIEWPORT8 lastViewport;
    bd->device->GetTransform(D3DTS_WORLD, &lastWorld);
    bd->device->GetTransform(D3DTS_VIEW, &lastView);
    bd->device->GetTransform(D3DTS_PROJECTION, &lastProjection);
    bd->device->GetViewport(&lastViewport);

    if (fillBuffers(*bd, drawData)) {
        bd->device->SetStreamSource(0, bd->vertexBuffer, sizeof(Vertex));
        setupRenderState(bd->device, drawData);

        // The lists share one buffer, so each keeps its own offsets into it.
        int globalVertexOffset = 0;
        int globalIndexOffset = 0;
        const ImVec2 clipOffset = drawData->DisplayPos;
        const float displayWidth = drawData->DisplaySize.x;
        const float displayHeight = drawData->DisplaySize.y;
        for (int n = 0; n < drawData->CmdListsCount; ++n) {
            const ImDrawList* list = drawData->CmdLists[n];
            for (const ImDrawCmd& command : list->CmdBuffer) {
                if (command.UserCallback != nullptr) {
                    if (command.UserCallback == ImDrawCallback_ResetRenderState)
                        setupRenderState(bd->device, drawData);
                    else
                        command.UserCallback(list, &command);
                    continue;
                }
                // The clipping rectangle in whole frame-buffer pixels, kept inside the display.
                float left = command.ClipRect.x - clipOffset.x;
                float top = command.ClipRect.y - clipOffset.y;
                float right = command.ClipRect.z - clipOffset.x;
                float bottom = command.ClipRect.w - clipOffset.y;
                left = left < 0.0f ? 0.0f : static_cast<float>(static_cast<long>(left));
                top = top < 0.0f ? 0.0f : static_cast<float>(static_cast<long>(top));
                right = right > displayWidth ? displayWidth : static_cast<float>(static_cast<long>(right));
                bottom =
                    bottom > displayHeight ? displayHeight : static_cast<float>(static_cast<long>(bottom));
                if (right <= left || bottom <= top) continue;

                D3DVIEWPORT8 viewport{static_cast<DWORD>(left),
                                      static_cast<DWORD>(top),
                                      static_cast<DWORD>(right - left),
                                      static_cast<DWORD>(bottom - top),
                                      0.0f,
                                      1.0f};
                bd->device->SetViewport(&viewport);
                setProjection(bd->device, clipOffset.x + left, clipOffset.y + top, right - left,
                              bottom - top);
                bd->device->SetTexture(0, static_cast<IDirect3DTexture8*>(command.GetTexID()));
                bd->device->SetIndices(bd->indexBuffer,
                                       command.VtxOffset + static_cast<UINT>(globalVertexOffset));
                bd->device->DrawIndexedPrimitive(
                    D3DPT_TRIANGLELIST, 0, static_cast<UINT>(list->VtxBuffer.Size),
                    command.IdxOffset + static_cast<UINT>(globalIndexOffset), command.ElemCount / 3);
            }
            globalIndexOffset += list->IdxBuffer.Size;
            globalVertexOffset += list->VtxBuffer.Size;
        }
    }

    bd->device->SetTransform(D3DTS_WORLD, &lastWorld);
    bd->device->SetTransform(D3DTS_VIEW, &lastView);
    bd->device->SetTransform(D3DTS_PROJECTION, &lastProjection);
    bd->device->SetViewport(&lastViewport);
    bd->device->ApplyStateBlock(stateBlock);
    bd->device->DeleteStateBlock(stateBlock);
}

bool ImGui_ImplDX8_Init(IDirect3DDevice8* device) {
    ImGuiIO& io = ImGui::GetIO();
    IM_ASSERT(io.BackendRendererUserData == nullptr && "a renderer back end is already bound");
    auto* bd = IM_NEW(BackendData)();
    io.BackendRendererUserData = bd;
    io.BackendRendererName = "imgui_impl_dx8";
    io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
    bd->device = device;
    bd->device->AddRef();
    return true;
}

void ImGui_ImplDX8_Shutdown() {
    BackendData* bd = backendData();
    if (bd == nullptr) return;
    ImGui_ImplDX8_InvalidateDeviceObjects();
    release(bd->device);
    ImGuiIO& io = ImGui::GetIO();
    io.BackendRendererName = nullptr;
    io.BackendRendererUserData = nullptr;
    IM_DELETE(bd);
}

bool ImGui_ImplDX8_CreateDeviceObjects() {
    BackendData* bd = backendData();
    if (bd == nullptr || bd->device == nullptr) return false;
    return createFontsTexture(*bd);
}

void ImGui_ImplDX8_InvalidateDeviceObjects() {
    BackendData* bd = backendData();
    if (bd == nullptr || bd->device == nullptr) return;
    release(bd->vertexBuffer);
    release(bd->indexBuffer);
    ImGui_ImplDX8_DestroyFontsTexture();
}

void ImGui_ImplDX8_DestroyFontsTexture() {
    BackendData* bd = backendData();
    if (bd == nullptr || bd->fontTexture == nullptr) return;
    release(bd->fontTexture);
    ImGui::GetIO().Fonts->SetTexID(nullptr);
}

bool ImGui_ImplDX8_CreateFontsTexture() {
    BackendData* bd = backendData();
    if (bd == nullptr || bd->device == nullptr) return false;
    return createFontsTexture(*bd);
}

void ImGui_ImplDX8_NewFrame() {
    BackendData* bd = backendData();
    IM_ASSERT(bd != nullptr && "ImGui_ImplDX8_Init was not called");
    if (bd->fontTexture == nullptr) ImGui_ImplDX8_CreateDeviceObjects();
}
