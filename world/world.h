#pragma once
// The scene shown in the view: the camera, the mouse-camera state, and the per-frame entry
// points that wrap a derived world's update and drawing.

#include "mathlib/camera.h"
#include "world/inputstate.h"
#include "world/screenshots.h"

// The world time each frame advances by, in the window and in a capture alike.
constexpr float kFrameStep = 0.05f;

class World {
public:
    World();
    virtual ~World();

    void Tick(float step);
    void Draw();

    void LeftButtonDown(int x, int y);
    void LeftButtonUp(int x, int y);
    void RightButtonDown(int x, int y);
    void RightButtonUp(int x, int y);
    void MouseMove(int x, int y);
    void KeyDown(char key, int x, int y);
    void KeyUp(char key, int x, int y);

    virtual void ZoomOut();
    virtual void ZoomIn();

    // The GL state the world's own drawing needs, set before the scene and again after it
    // rather than inherited: depth test, blending, polygon offset, no texturing or lighting,
    // modelview matrix mode. The current colour is left alone.
    void SetupRenderState();

    Camera& GetCamera() { return camera; }
    // Needs the view's GL context current: loads the projection and the modelview.
    void SetupCamera();
    void LookAt(Vector3 target);
    void RotateCamera(float yaw, float pitch);
    // The projection's vertical angle in degrees, from kNarrowestView to kWidestView; false,
    // and nothing changed, for an angle outside them.
    bool SetFieldOfView(float degrees);
    // The distances of the near and far clipping planes: false, and nothing changed, unless
    // 0 < near < far, both finite.
    bool SetClipRange(float nearDistance, float farDistance);
    static constexpr float kNarrowestView = 1;
    static constexpr float kWidestView = 179;

    // The grid, the ground box and the marker, shown or hidden together; the pick goes on either
    // way, through the scene's own depth while the ground is hidden.
    void ShowGuides(bool shown);
    bool GuidesShown() const { return showGrid || showGround || showPivotMarker; }
    // For a picture this many lines high: the marker's radius and the guides' lines keep the size
    // they have in a picture of 720 lines.
    void ScaleGuidesFor(int pictureHeight);

    // Overlays and the pick, run by Draw with the frame's matrices loaded.
    void DrawGrid();
    void DrawGround();
    void PickPivot();
    void DrawPivotMarker();

    // Mouse camera moves; they read the matrices and viewport the last Draw left.
    void PanCamera(float dx, float dy);
    void OrbitPivot(const Vector3& centre, float yaw, float pitch);
    void OrbitPivotSimple(const Vector3& centre, float yaw, float pitch);

    Camera camera;
    float fieldOfView = 90;
    float clipNear = 0.1f;
    float clipFar = 20000;
    // What scripts read of the keyboard and the mouse; the mouse position is kept by MouseMove.
    InputState input;
    // Pictures asked for during the frame, saved by whoever draws it once it is drawn.
    Screenshots screenshots;
    Vector3 mousePos{300, 300, 0};
    Vector3 mouseDelta;
    Vector3 pivot;
    float pickDepth = 0.5f;
    int gridCellsX = 40;
    int gridCellsZ = 40;
    float gridSpacing = 10;
    bool leftDown = false;
    bool leftPressed = false;
    bool rightDown = false;
    bool rightPressed = false;
    bool spaceDown = false;
    bool spacePressed = false;
    bool mouseCameraEnabled = true;
    bool quaternionOrbit = true;
    bool pickPivot = true;
    bool showGround = true;
    bool showGrid = true;
    bool showPivotMarker = true;
    // The marker's radius and the guides' line width are this many times their size in pixels.
    float guideScale = 1;

protected:
    virtual void Update(float step);
    virtual void Render();
    virtual void OnMouseMove(int x, int y);
    virtual void OnLeftButtonDown(int x, int y);
    virtual void OnLeftButtonUp(int x, int y);
    virtual void OnRightButtonDown(int x, int y);
    virtual void OnRightButtonUp(int x, int y);
    virtual void OnKeyDown(char key, int x, int y);
    virtual void OnKeyUp(char key, int x, int y);
};
