#include "world/world.h"

#include "world/glshapes.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <algorithm>
#include <cmath>

static constexpr char kSpace = ' ';

static constexpr float kGroundScale = 1.5f;       // ground edge per larger grid side
static constexpr float kGroundFlattening = 0.05f;
static constexpr float kBackgroundDepth = 0.1f;   // stands in for the depth buffer's clear value
static constexpr double kMarkerScreenRadius = 15.0;
static constexpr int kMarkerTessellation = 15;
// The picture height at which the guides have the sizes above; the window's view keeps them.
static constexpr float kGuideReferenceLines = 720;
static constexpr float kRadiansPerPixel = 0.008f;
static constexpr float kPoleLimitDegrees = 10.0f;
static constexpr float kDegreesPerRadian = 57.2957763671875f;
static constexpr float kReaimFraction = 0.2f;
static constexpr float kCentringFactor = 0.9f;
static constexpr float kDollyFraction = 0.1f;
static constexpr float kDollyLimit = 20.0f;
// Sine of the angle from the vertical below which lookAt keeps the camera's heading.
static constexpr float kVerticalTolerance = 1e-3f;

struct GLView {
    GLdouble projection[16];
    GLdouble modelview[16];
    GLint viewport[4];
};

static GLView ReadView()
{
    GLView v;
    glGetDoublev(GL_PROJECTION_MATRIX, v.projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, v.modelview);
    glGetIntegerv(GL_VIEWPORT, v.viewport);
    return v;
}

static Vector3 UnProject(const GLView& v, double x, double y, double depth)
{
    GLdouble wx = 0, wy = 0, wz = 0;
    gluUnProject(x, y, depth, v.modelview, v.projection, v.viewport, &wx, &wy, &wz);
    return Vector3(float(wx), float(wy), float(wz));
}

World::World()
{
    camera.SetPosition(Vector3(162, 66, 35));
    // Aims from the position just set, so it must follow it.
    LookAt(Vector3(144, 60, 45));
}

World::~World() = default;

void World::Tick(float step)
{
    // Orbit hold: the view keeps turning onto the pivot while left and space are held.
    if (mouseCameraEnabled && leftDown && spaceDown) {
        if (quaternionOrbit)
            OrbitPivot(pivot, 0, 0);
        else
            OrbitPivotSimple(pivot, 0, 0);
    }
    Update(step);
    // A derived world sees each press in exactly one update.
    leftPressed = rightPressed = spacePressed = false;
}

void World::Draw()
{
    SetupRenderState();
    SetupCamera();
    if (showGrid)
        DrawGrid();
    Render();
    SetupRenderState();
    if (showGround)
        DrawGround();
    // The depth buffer now holds the grid, the scene and the ground, but not the marker. The
    // pivot is for the marker and the mouse camera: without either the pick would only stall
    // the drawing.
    if (pickPivot && (showPivotMarker || mouseCameraEnabled))
        PickPivot();
    if (showPivotMarker)
        DrawPivotMarker();
}

void World::SetupRenderState()
{
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    // The ground's solid pass has alpha 0: blending is what keeps it out of the picture.
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    // Filled polygons lie slightly behind lines at the same depth, so grid lines stay visible
    // on the ground's top face.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
    glMatrixMode(GL_MODELVIEW);
}

void World::LeftButtonDown(int x, int y)
{
    leftDown = leftPressed = true;
    if (mouseCameraEnabled)
        pickPivot = false;
    OnLeftButtonDown(x, y);
}

void World::LeftButtonUp(int x, int y)
{
    leftDown = false;
    pickPivot = true;
    OnLeftButtonUp(x, y);
}

void World::RightButtonDown(int x, int y)
{
    rightDown = rightPressed = true;
    if (mouseCameraEnabled)
        pickPivot = false;
    OnRightButtonDown(x, y);
}

void World::RightButtonUp(int x, int y)
{
    rightDown = false;
    pickPivot = true;
    OnRightButtonUp(x, y);
}

void World::MouseMove(int x, int y)
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const Vector3 now(float(x), float(viewport[3] - y), 0);
    input.mouseX = x;
    input.mouseY = y;
    mouseDelta = now - mousePos;
    mousePos = now;
    if (mouseCameraEnabled) {
        if (rightDown)
            PanCamera(mouseDelta.x, mouseDelta.y);
        if (leftDown) {
            const float yaw = kRadiansPerPixel * mouseDelta.x;
            const float pitch = kRadiansPerPixel * mouseDelta.y;
            if (!spaceDown)
                RotateCamera(yaw, pitch);
            else if (quaternionOrbit)
                OrbitPivot(pivot, yaw, pitch);
            else
                OrbitPivotSimple(pivot, yaw, pitch);
        }
    }
    OnMouseMove(x, y);
}

void World::KeyDown(char key, int x, int y)
{
    if (key == kSpace)
        spaceDown = spacePressed = true;
    OnKeyDown(key, x, y);
}

void World::KeyUp(char key, int x, int y)
{
    if (key == kSpace)
        spaceDown = false;
    OnKeyUp(key, x, y);
}

// One wheel step along the line through the pivot: a tenth of the distance, at most the limit.
static Vector3 DollyStep(const Camera& camera, const Vector3& pivot)
{
    const Vector3 p = camera.GetPosition();
    const float step = std::clamp(kDollyFraction * (pivot - p).Length(), -kDollyLimit, kDollyLimit);
    Vector3 away = p - pivot;
    away.Normalize();
    return away * step;
}

void World::ZoomOut() { camera.Translate(DollyStep(camera, pivot)); }
void World::ZoomIn() { camera.Translate(DollyStep(camera, pivot) * -1.0f); }

void World::ShowGuides(bool shown)
{
    showGrid = showGround = showPivotMarker = shown;
}

void World::ScaleGuidesFor(int pictureHeight)
{
    guideScale = float(pictureHeight) / kGuideReferenceLines;
}

// GL draws no line thinner than a pixel.
static void SetGuideLineWidth(float scale)
{
    glLineWidth(std::max(1.0f, scale));
}

// The script's lines are a pixel wide.
static void EndGuideLines()
{
    glLineWidth(1.0f);
}

void World::DrawGrid()
{
    const float s = gridSpacing;
    const float sizeX = float(gridCellsX) * s, sizeZ = float(gridCellsZ) * s;
    glPushMatrix();
    SetGuideLineWidth(guideScale);
    glColor3f(0.6f, 0.1f, 0.9f);
    glBegin(GL_LINES);
    for (int i = 0; i <= gridCellsX; ++i) {
        glVertex3f(float(i) * s, 0, 0);
        glVertex3f(float(i) * s, 0, sizeZ);
    }
    for (int j = 0; j <= gridCellsZ; ++j) {
        glVertex3f(0, 0, float(j) * s);
        glVertex3f(sizeX, 0, float(j) * s);
    }
    glEnd();
    EndGuideLines();
    glPopMatrix();
}

void World::DrawGround()
{
    const float sizeX = float(gridCellsX) * gridSpacing, sizeZ = float(gridCellsZ) * gridSpacing;
    const float size = kGroundScale * (sizeZ > sizeX ? sizeZ : sizeX);
    glPushMatrix();
    glScalef(1, kGroundFlattening, 1);
    // After the scale, so the drop is flattened too: the top face lies in the grid plane.
    glTranslatef(sizeX * 0.5f, -size * 0.5f, sizeZ * 0.5f);
    glColor4f(0.3f, 0.3f, 0.8f, 1.0f);
    SetGuideLineWidth(guideScale);
    WireCube(size);
    EndGuideLines();
    // Transparent under the view's blending: it fills the depth buffer only, so empty ground
    // can be picked and hides the marker below it.
    glColor4f(0.3f, 0.3f, 0.3f, 0);
    SolidCube(size);
    glPopMatrix();
}

void World::PickPivot()
{
    const GLView view = ReadView();
    pickDepth = 0;
    // On the top row mousePos lies one row above the viewport, where GL defines no depth:
    // read from the nearest row inside it.
    const GLint* vp = view.viewport;
    const int readX = std::clamp(int(mousePos.x), vp[0], vp[0] + std::max(vp[2], 1) - 1);
    const int readY = std::clamp(int(mousePos.y), vp[1], vp[1] + std::max(vp[3], 1) - 1);
    glReadPixels(readX, readY, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &pickDepth);
    if (pickDepth == 1.0f)
        pickDepth = kBackgroundDepth;
    pivot = UnProject(view, mousePos.x, mousePos.y, pickDepth);
}

void World::DrawPivotMarker()
{
    const GLView view = ReadView();
    GLdouble wx = 0, wy = 0, wz = 0;
    gluProject(pivot.x, pivot.y, pivot.z, view.modelview, view.projection, view.viewport,
               &wx, &wy, &wz);
    const Vector3 edge = UnProject(view, wx + kMarkerScreenRadius * guideScale, wy, wz);
    const float radius = (edge - pivot).Length();
    // Texturing and colour are left as set for whatever is drawn next, the line width a pixel.
    SetGuideLineWidth(guideScale);
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslatef(pivot.x, pivot.y, pivot.z);
    glColor4ub(0, 255, 0, 255);
    WireSphere(radius, kMarkerTessellation, kMarkerTessellation);
    EndGuideLines();
    glPopMatrix();
}

void World::PanCamera(float dx, float dy)
{
    const GLView view = ReadView();
    const Vector3 a = UnProject(view, mousePos.x, mousePos.y, pickDepth);
    const Vector3 b = UnProject(view, mousePos.x + dx, mousePos.y + dy, pickDepth);
    camera.Translate(a - b);
}

void World::OrbitPivot(const Vector3& centre, float yaw, float pitch)
{
    const Vector3 up(0, 1, 0), down(0, -1, 0);
    const Quaternion q0 = camera.GetOrientation();
    const Vector3 p = camera.GetPosition();
    const float dist = (centre - p).Length();
    Vector3 f = centre - p;
    f.Normalize();
    Quaternion ql;
    QuaternionFromLook(ql, f, up);
    ql.Normalize();
    // The current aim relative to looking straight at the centre, carried over the swing.
    const Quaternion rel = Quaternion(-ql.w, ql.x, ql.y, ql.z) * q0;
    Quaternion qn = (ql * Quaternion(up, -yaw)) * Quaternion(Vector3(1, 0, 0), pitch);
    qn.Normalize();
    const Vector3 fn = qn.Rotate(Vector3(0, 0, -1));

    // Refuse a step that ends near a pole while approaching it; leaving it is always allowed.
    const float downNew = down.AngleTo(fn), downOld = down.AngleTo(f);
    const float upNew = up.AngleTo(fn), upOld = up.AngleTo(f);
    if (std::fabs(kDegreesPerRadian * downNew) < kPoleLimitDegrees && downOld > downNew)
        return;
    if (std::fabs(kDegreesPerRadian * upNew) < kPoleLimitDegrees && upOld > upNew)
        return;

    camera.SetPosition(centre - qn.Rotate(Vector3(0, 0, -dist)));
    Vector3 f2 = centre - camera.GetPosition();
    f2.Normalize();
    Quaternion ql2;
    QuaternionFromLook(ql2, f2, up);
    Quaternion q;
    Slerp(q, kReaimFraction, ql2 * rel, ql2, 0);
    camera.SetOrientation(q);
    camera.NormalizeOrientation();
}

void World::OrbitPivotSimple(const Vector3& centre, float yaw, float pitch)
{
    Vector3 local = camera.WorldToLocal(centre);
    RotateCamera(yaw, pitch);
    local.x *= kCentringFactor;
    local.y *= kCentringFactor;
    camera.SetPosition(centre - camera.TransformDirection(local));
    camera.NormalizeOrientation();
}

void World::SetupCamera()
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fieldOfView, float(viewport[2]) / float(viewport[3]), clipNear, clipFar);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    Camera view(camera);
    view.Invert();
    view.UpdateMatrix();
    const Matrix4 modelview(view.matrix);
    glLoadMatrixf(modelview.m);
}

void World::LookAt(Vector3 target)
{
    Vector3 d = target - camera.GetPosition();
    d.Normalize();
    if (d.Length() == 0)
        return;  // the point is where the camera is: nothing to face
    Vector3 up(0, 1, 0);
    // Along the vertical the world's up gives no right axis. The camera keeps the right axis it
    // has, levelled, so that looking straight down or up keeps its heading.
    if (Cross(d, up).Length() < kVerticalTolerance) {
        Vector3 right = camera.TransformDirection(Vector3(1, 0, 0));
        right.y = 0;
        right.Normalize();
        if (right.Length() == 0)
            right = Vector3(1, 0, 0);
        up = Cross(right, d);
    }
    Quaternion q;
    QuaternionFromLook(q, d, up);
    camera.SetOrientation(q);
}

void World::RotateCamera(float yaw, float pitch)
{
    camera.Rotate(Quaternion(Vector3(0, 1, 0), -yaw));
    const Vector3 right = camera.TransformDirection(Vector3(1, 0, 0));
    camera.Rotate(Quaternion(right, pitch));
}

bool World::SetFieldOfView(float degrees)
{
    if (!(degrees >= kNarrowestView && degrees <= kWidestView))
        return false;
    fieldOfView = degrees;
    return true;
}

bool World::SetClipRange(float nearDistance, float farDistance)
{
    if (!(nearDistance > 0 && nearDistance < farDistance && std::isfinite(farDistance)))
        return false;
    clipNear = nearDistance;
    clipFar = farDistance;
    return true;
}

void World::Update(float) {}
void World::Render() {}
void World::OnMouseMove(int, int) {}
void World::OnLeftButtonDown(int, int) {}
void World::OnLeftButtonUp(int, int) {}
void World::OnRightButtonDown(int, int) {}
void World::OnRightButtonUp(int, int) {}
void World::OnKeyDown(char, int, int) {}
void World::OnKeyUp(char, int, int) {}
