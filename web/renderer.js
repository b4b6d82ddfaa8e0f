// The picture on the browser's WebGPU: the pipelines of the picture pass and the particles'
// kernels, made once from the shader texts that the WebAssembly core carries (the native
// renderer's own texts), and a frame drawn from what the core's frame loop asks for. Every device
// error is reported through `onError`, compilation errors with their line and column.

const PICTURE_SIZE = 0, LIGHTING_SIZE = 1, VERTEX_SIZE = 2, STATE_SIZE = 3, POINT_SIZE = 4;
const STEP_SIZE = 5, WORKGROUP = 6;
const SHADER_PICTURE = 0, SHADER_KERNELS = 1, SHADER_PROJECTION = 2;
const LIST_POINTS = 0, LIST_EDGES = 1, LIST_TRIANGLES = 2;
const FACES = 1, EDGES = 2, ON_DEVICE = 4, UPLOAD = 8;

// A problem that stops the page, in words for its user.
export class PageProblem extends Error {}

function shaderText(core, which) {
  const bytes = core.HEAPU8.subarray(
      core._orv_web_shader(which),
      core._orv_web_shader(which) + core._orv_web_shader_length(which));
  return new TextDecoder().decode(bytes);
}

// A shader module, refused with one "label:line:column: error: message" line per error.
async function compiled(device, label, code) {
  const module = device.createShaderModule({label, code});
  const info = await module.getCompilationInfo();
  const errors = info.messages.filter((m) => m.type === 'error');
  if (errors.length > 0) {
    throw new PageProblem(
        errors.map((m) => `${label}:${m.lineNum}:${m.linePos}: error: ${m.message}`).join('\n'));
  }
  return module;
}

// Runs `make` in a validation error scope: a device object, or a PageProblem naming `what`.
async function validated(device, what, make) {
  device.pushErrorScope('validation');
  const made = make();
  const error = await device.popErrorScope();
  if (error) throw new PageProblem(`${what}: ${error.message}`);
  return made;
}

export class Renderer {
  // The adapter, the device and everything the picture needs, for `page` (the core's session).
  // Throws a PageProblem with a message for the user when the browser cannot draw it.
  static async create(core, page, canvas, onError) {
    if (!navigator.gpu) {
      throw new PageProblem(
          'This browser has no WebGPU, which ORV draws with. Open the page ' +
          'in a recent Chrome, Edge or other Chromium-based browser, or in ' +
          'a version of Safari or Firefox that has WebGPU turned on.');
    }
    const adapter = await navigator.gpu.requestAdapter();
    if (!adapter) {
      throw new PageProblem(
          'This browser has WebGPU but offers no GPU adapter: the GPU may be ' +
          'blocked or its driver unsupported (see chrome://gpu in Chromium).');
    }
    const device = await adapter.requestDevice();
    const renderer = new Renderer(core, page, canvas, adapter, device, onError);
    await renderer.build();
    return renderer;
  }

  constructor(core, page, canvas, adapter, device, onError) {
    this.core = core;
    this.page = page;
    this.canvas = canvas;
    this.adapter = adapter;
    this.device = device;
    this.lost = false;
    // The page never destroys its device, so any loss ends the flight with a message.
    device.lost.then((info) => {
      this.lost = true;
      onError(`The GPU device was lost (${info.reason}): ${info.message || 'no reason given'}`);
    });
    device.onuncapturederror = (event) => onError(`WebGPU error: ${event.error.message}`);
    this.format = navigator.gpu.getPreferredCanvasFormat();
    this.context = canvas.getContext('webgpu');
    this.context.configure({device, format: this.format, alphaMode: 'opaque'});
    this.depth = null;
    this.sizes = [
      PICTURE_SIZE, LIGHTING_SIZE, VERTEX_SIZE, STATE_SIZE, POINT_SIZE, STEP_SIZE, WORKGROUP
    ].map((which) => core._orv_web_size(which));
  }

  async build() {
    const d = this.device, core = this.core;
    const [pictureSize, lightingSize, vertexSize] = this.sizes;
    this.pictureModule = await compiled(d, 'picture', shaderText(core, SHADER_PICTURE));
    await validated(
        d, 'the picture pipelines',
        () => this.makePipelines(pictureSize, lightingSize, vertexSize));
    this.uniforms = this.buffer('picture uniforms', GPUBufferUsage.UNIFORM, pictureSize);
    this.lighting = this.buffer('picture lighting', GPUBufferUsage.UNIFORM, lightingSize);
    this.uniformGroup = d.createBindGroup({
      layout: this.uniformLayout,
      entries: [
        {binding: 0, resource: {buffer: this.uniforms}},
        {binding: 1, resource: {buffer: this.lighting}}
      ],
    });
    this.lists = [LIST_POINTS, LIST_EDGES, LIST_TRIANGLES].map((which) => this.list(which));
    this.particles = core._orv_web_particle_count(this.page);
    if (this.particles > 0) await this.makeParticles();
  }

  buffer(label, usage, size, data) {
    const buffer = this.device.createBuffer({
      label,
      usage: usage | GPUBufferUsage.COPY_DST,
      size: Math.max(4, Math.ceil(size / 4) * 4)
    });
    if (data) this.device.queue.writeBuffer(buffer, 0, data);
    return buffer;
  }

  // A copy of `bytes` bytes of the core's memory at `at`.
  heap(at, bytes) { return this.core.HEAPU8.slice(at, at + bytes); }

  // `bytes` bytes of the core's memory at `at` into `buffer`, with no copy of them on the way.
  upload(buffer, at, bytes) {
    this.device.queue.writeBuffer(buffer, 0, this.core.HEAPU8, at, bytes);
  }

  makePipelines(pictureSize, lightingSize, vertexSize) {
    const d = this.device, V = GPUShaderStage.VERTEX, F = GPUShaderStage.FRAGMENT;
    const storage = (binding, minBindingSize) =>
        ({binding, visibility: V, buffer: {type: 'read-only-storage', minBindingSize}});
    this.uniformLayout = d.createBindGroupLayout({
      label: 'picture uniforms',
      entries: [
        {binding: 0, visibility: V | F, buffer: {type: 'uniform', minBindingSize: pictureSize}},
        {binding: 1, visibility: F, buffer: {type: 'uniform', minBindingSize: lightingSize}},
      ]
    });
    this.cornerLayout =
        d.createBindGroupLayout({label: 'picture corners', entries: [storage(0, vertexSize)]});
    this.particleLayout = d.createBindGroupLayout(
        {label: 'picture particles', entries: [storage(0, 16), storage(1, 4)]});
    const layout = (second) =>
        d.createPipelineLayout({bindGroupLayouts: [this.uniformLayout, second]});
    const corners = layout(this.cornerLayout), particles = layout(this.particleLayout);
    const pipeline = (pipelineLayout, vertex, fragment, blended) => d.createRenderPipeline({
      label: vertex,
      layout: pipelineLayout,
      vertex: {module: this.pictureModule, entryPoint: vertex},
      fragment: {
        module: this.pictureModule,
        entryPoint: fragment,
        // Blended: the colour over what is there by its alpha, the target's alpha kept at 1.
        targets: [{
          format: this.format,
          blend: blended ? {
            color: {operation: 'add', srcFactor: 'src-alpha', dstFactor: 'one-minus-src-alpha'},
            alpha: {operation: 'add', srcFactor: 'one', dstFactor: 'one-minus-src-alpha'},
          } :
                           undefined
        }],
      },
      primitive: {topology: 'triangle-list', frontFace: 'ccw', cullMode: 'none'},
      depthStencil: {format: 'depth32float', depthWriteEnabled: !blended, depthCompare: 'less'},
    });
    this.pipelines = {
      faces: pipeline(corners, 'face_vertex', 'face_fragment', false),
      edges: pipeline(corners, 'edge_vertex', 'edge_core_fragment', false),
      edgeRims: pipeline(corners, 'edge_vertex', 'edge_rim_fragment', true),
      points: pipeline(corners, 'point_vertex', 'disc_fragment', false),
      particles: pipeline(particles, 'particle_vertex', 'disc_fragment', false),
    };
  }

  // One of the scene's vertex lists on the device, with the bind group it is drawn through.
  list(which) {
    const count = this.core._orv_web_list_length(this.page, which);
    if (count === 0) return {count, group: null};
    const bytes = count * this.sizes[VERTEX_SIZE];
    const data = this.heap(this.core._orv_web_list(this.page, which), bytes);
    const buffer = this.buffer('scene list', GPUBufferUsage.STORAGE, bytes, data);
    const group = this.device.createBindGroup(
        {layout: this.cornerLayout, entries: [{binding: 0, resource: {buffer}}]});
    return {count, group};
  }

  async makeParticles() {
    const d = this.device, core = this.core, n = this.particles;
    const S = GPUBufferUsage.STORAGE;
    const stateBytes = n * this.sizes[STATE_SIZE];
    this.states = this.buffer(
        'particle states', S | GPUBufferUsage.COPY_SRC, stateBytes,
        this.heap(core._orv_web_particle_states(this.page), stateBytes));
    this.stepped = this.buffer('stepped particle states', S, stateBytes);
    this.positions = this.buffer('particle positions', S, n * this.sizes[POINT_SIZE]);
    this.distances = this.buffer('particle distances', S, n * 4);
    this.speeds = this.buffer(
        'particle speeds', S, n * 4, this.heap(core._orv_web_particle_speeds(this.page), n * 4));
    this.stepUniform = this.buffer('particle step', GPUBufferUsage.UNIFORM, this.sizes[STEP_SIZE]);
    this.eyeUniform = this.buffer('particle eye', GPUBufferUsage.UNIFORM, this.sizes[POINT_SIZE]);
    this.readback = d.createBuffer({
      label: 'particle read-back',
      size: stateBytes,
      usage: GPUBufferUsage.MAP_READ | GPUBufferUsage.COPY_DST
    });
    const kernels = await compiled(d, 'kernels', shaderText(core, SHADER_KERNELS));
    const projection = await compiled(d, 'geodesic_project', shaderText(core, SHADER_PROJECTION));
    await validated(d, 'the particle kernels', () => {
      const kernel = (module, entryPoint, buffers) => {
        const pipeline = d.createComputePipeline(
            {label: entryPoint, layout: 'auto', compute: {module, entryPoint}});
        const group = d.createBindGroup({
          layout: pipeline.getBindGroupLayout(0),
          entries: buffers.map((buffer, binding) => ({binding, resource: {buffer}})),
        });
        return {pipeline, group};
      };
      this.kernels = [
        kernel(kernels, 'geodesic_rk4_step', [this.states, this.stepped, this.stepUniform]),
        kernel(
            projection, 'geodesic_project',
            [this.stepped, this.states, this.positions, this.speeds]),
        kernel(kernels, 'fs_distance_batch', [this.positions, this.distances, this.eyeUniform]),
      ];
      this.particleGroup = d.createBindGroup({
        layout: this.particleLayout,
        entries: [
          {binding: 0, resource: {buffer: this.positions}},
          {binding: 1, resource: {buffer: this.distances}},
        ]
      });
    });
    // The positions and distances of the initial states, before any step.
    this.stepParticles(0, new Float32Array([0, 0, 0, 1]));
  }

  // The particles advanced by dt and measured from `eye` on the device, queued.
  stepParticles(dt, eye) {
    const d = this.device;
    d.queue.writeBuffer(this.stepUniform, 0, new Float32Array([dt, 0, 0, 0]));
    d.queue.writeBuffer(this.eyeUniform, 0, eye);
    const encoder = d.createCommandEncoder();
    const pass = encoder.beginComputePass();
    const groups = Math.ceil(this.particles / this.sizes[WORKGROUP]);
    for (const {pipeline, group} of this.kernels) {
      pass.setPipeline(pipeline);
      pass.setBindGroup(0, group);
      pass.dispatchWorkgroups(groups);
    }
    pass.end();
    d.queue.submit([encoder.finish()]);
  }

  // The particles' states read back from the device into the core's memory at `into`.
  async readStates(into) {
    const bytes = this.particles * this.sizes[STATE_SIZE];
    const encoder = this.device.createCommandEncoder();
    encoder.copyBufferToBuffer(this.states, 0, this.readback, 0, bytes);
    this.device.queue.submit([encoder.finish()]);
    await this.readback.mapAsync(GPUMapMode.READ);
    this.core.HEAPU8.set(new Uint8Array(this.readback.getMappedRange(0, bytes)), into);
    this.readback.unmap();
  }

  // The depth buffer at the canvas's size.
  depthView() {
    const {width, height} = this.canvas;
    if (!this.depth || this.depth.width !== width || this.depth.height !== height) {
      if (this.depth) this.depth.destroy();
      this.depth = this.device.createTexture({
        size: [width, height],
        format: 'depth32float',
        usage: GPUTextureUsage.RENDER_ATTACHMENT
      });
      this.depthTextureView = this.depth.createView();
    }
    return this.depthTextureView;
  }

  // Draws the frame that the core's loop just ran.
  draw() {
    if (this.lost) return;
    const core = this.core, page = this.page, d = this.device, q = d.queue;
    const flags = core._orv_web_flags(page);
    if (this.particles > 0) {
      const n = this.particles;
      if (flags & UPLOAD) {
        this.upload(this.states, core._orv_web_device_states(page), n * this.sizes[STATE_SIZE]);
      }
      if (flags & ON_DEVICE) {
        this.stepParticles(core._orv_web_dt(page), this.heap(core._orv_web_eye(page), 16));
      } else {
        this.upload(this.positions, core._orv_web_positions(page), n * 16);
        this.upload(this.distances, core._orv_web_distances(page), n * 4);
      }
    }
    this.upload(this.uniforms, core._orv_web_picture(page), this.sizes[PICTURE_SIZE]);
    this.upload(this.lighting, core._orv_web_lighting(page), this.sizes[LIGHTING_SIZE]);
    const encoder = d.createCommandEncoder();
    const pass = encoder.beginRenderPass({
      colorAttachments: [{
        view: this.context.getCurrentTexture().createView(),
        loadOp: 'clear',
        storeOp: 'store',
        clearValue: {r: 0, g: 0, b: 0, a: 1}
      }],
      depthStencilAttachment: {
        view: this.depthView(),
        depthLoadOp: 'clear',
        depthStoreOp: 'discard',
        depthClearValue: 1
      },
    });
    this.encode(pass, flags);
    pass.end();
    q.submit([encoder.finish()]);
  }

  // Faces, points and particles, then the edges' opaque cores and their blended rims, so that the
  // rims blend over whatever lies behind them.
  encode(pass, flags) {
    const [points, edges, triangles] = this.lists;
    const p = this.pipelines;
    pass.setBindGroup(0, this.uniformGroup);
    if ((flags & FACES) && triangles.count > 0) {
      pass.setPipeline(p.faces);
      pass.setBindGroup(1, triangles.group);
      pass.draw(triangles.count, 2);  // +q and −q
    }
    if (points.count > 0) {
      pass.setPipeline(p.points);
      pass.setBindGroup(1, points.group);
      pass.draw(6 * points.count);
    }
    if (this.particles > 0) {
      pass.setPipeline(p.particles);
      pass.setBindGroup(1, this.particleGroup);
      pass.draw(6 * this.particles);
    }
    if ((flags & EDGES) && edges.count > 0) {
      pass.setBindGroup(1, edges.group);
      for (const stage of [p.edges, p.edgeRims]) {
        pass.setPipeline(stage);
        pass.draw(6 * edges.count);  // 12 per edge of two vertices: +q and −q
      }
    }
  }
}
