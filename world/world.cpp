#include "world/world.h"

#include <GL/gl.h>
#include <GL/glu.h>

static constexpr char kSpace = ' ';
static constexpr float kNearPlane = 0.1f;
static constexpr double kFarPlane = 20000.0;

World::World()
{
    mousePos = Vector3(0, 0, 0);
    mouseDelta = Vector3(0, 0, 0);
    pivot = Vector3(0, 0, 0);
    fieldOfView = 90;
    camera.SetPosition(Vector3(162, 66, 35));
    // Aims from the position just set, so it must follow it.
    LookAt(Vector3(144, 60, 45));
    mousePos = Vector3(300, 300, 0);
    mouseDelta = Vector3(0, 0, 0);
    pivot = Vector3(0, 0, 0);
    pickDepth = 0.5f;
    gridSpacing = 10;
    gridCellsX = gridCellsZ = 40;
    leftDown = leftPressed = rightDown = rightPressed = spaceDown = spacePressed = false;
    mouseCameraEnabled = quaternionOrbit = pickPivot = showGround = showGrid = showPivotMarker = true;
}

World::~World() = default;

void World::Tick(float step)
{
    Update(step);
    // A derived world sees each press in exactly one update.
    leftPressed = rightPressed = spacePressed = false;
}

void World::Draw()
{
    SetupCamera();
    Render();
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

void World::ZoomOut() {}
void World::ZoomIn() {}

void World::SetupCamera()
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fieldOfView, float(viewport[2]) / float(viewport[3]), kNearPlane, kFarPlane);
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
    Quaternion q;
    QuaternionFromLook(q, d, Vector3(0, 1, 0));
    camera.SetOrientation(q);
}

void World::RotateCamera(float yaw, float pitch)
{
    camera.Rotate(Quaternion(Vector3(0, 1, 0), -yaw));
    const Vector3 right = camera.TransformDirection(Vector3(1, 0, 0));
    camera.Rotate(Quaternion(right, pitch));
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
